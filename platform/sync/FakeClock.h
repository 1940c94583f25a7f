#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sync/Clock.h"

namespace tarvo {

namespace detail {
struct Waiter;
}

// A clock that moves only when a test advances it, so timed waits of workers are deterministic.
class FakeClock final : public Clock {
 public:
  // A start near 2^32 lets a test cross the wrap of TickCount.
  explicit FakeClock(uint64_t startMs = 0);
  // Destroying the clock while a thread waits in it is a bug of the test.
  ~FakeClock() override = default;

  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  uint32_t TickCount() override;
  uint64_t NowMs() override;
  // Blocks until an event is set or fake time reaches the deadline; never times out in real time.
  WaitResult Wait(Event* a, Event* b, uint32_t timeoutMs) override;
  // Returns once fake time has advanced by `ms`; kInfinite never returns.
  void Sleep(uint32_t ms) override;

  // Moves time forward and releases every waiter whose deadline is reached, before returning.
  void Advance(uint32_t ms);
  // Threads blocked in Wait or Sleep that nothing has released yet.
  size_t Waiters() const;
  // Blocks the caller in real time until at least `n` threads are blocked here; false on time-out.
  bool WaitForWaiters(size_t n, uint32_t realTimeoutMs = 5000);

 private:
  struct Timed {
    detail::Waiter* waiter;
    uint64_t deadline;  // kNever for kInfinite
  };
  static constexpr uint64_t kNever = UINT64_MAX;

  WaitResult Block(Event* a, Event* b, uint32_t timeoutMs);
  size_t PendingLocked() const;

  // All guarded by detail::SyncMutex().
  uint64_t nowMs_;
  std::vector<Timed> blocked_;
  std::condition_variable blockedChanged_;
};

}  // namespace tarvo
