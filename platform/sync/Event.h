#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace tarvo {

// A time-out that never expires.
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

namespace detail {
struct Waiter;
class WaitList;
}  // namespace detail

// A signal between threads: manual-reset stays set and releases every waiter, auto-reset
// releases exactly one waiter and is reset by that wait.
class Event {
 public:
  explicit Event(bool manualReset, bool initiallySet = false);
  // Destroying an event while a thread waits on it is a bug of the owner.
  ~Event() = default;

  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // Peeks without consuming an auto-reset event.
  bool IsSet() const;
  // Waits in real time; true when signalled, false on time-out.
  bool Wait(uint32_t timeoutMs);
  // A lock-free peek that may be stale: only a hint for a waiter deciding whether to sleep.
  bool SignalledHint() const { return signalled_.load(std::memory_order_relaxed); }

 private:
  friend class detail::WaitList;

  const bool manualReset_;
  // Written under detail::SyncMutex(); atomic so that a waiter may peek at it while spinning.
  std::atomic<bool> signalled_;
  std::vector<detail::Waiter*> waiters_;  // guarded by detail::SyncMutex(), oldest first
};

}  // namespace tarvo
