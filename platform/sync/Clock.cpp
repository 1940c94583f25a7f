#include "platform/sync/Clock.h"

#include <cassert>
#include <chrono>
#include <thread>

#include "platform/sync/WaitList.h"

namespace tarvo {
namespace {

constexpr int kSpinsBeforeSleep = 64;

// Real time from std::chrono::steady_clock, which never jumps with the wall clock.
class SteadyClock final : public Clock {
 public:
  uint32_t TickCount() override { return static_cast<uint32_t>(NowMs()); }

  uint64_t NowMs() override {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
  }

  WaitResult Wait(Event* a, Event* b, uint32_t timeoutMs) override {
    assert(a != nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // Workers hand each other work within microseconds, while putting a thread to sleep and
    // waking it costs tens of them: yield a few times before sleeping.
    if (timeoutMs != 0) {
      for (int spin = 0; spin < kSpinsBeforeSleep; ++spin) {
        if (a->SignalledHint() || (b && b->SignalledHint())) break;
        std::this_thread::yield();
      }
    }
    std::unique_lock lock(detail::SyncMutex());
    if (auto acquired = detail::WaitList::TryAcquire(a, b)) return *acquired;
    if (timeoutMs == 0) return WaitResult::Timeout;

    detail::Waiter w;
    w.events[0] = a;
    w.events[1] = b;
    detail::WaitList::Enlist(w);
    auto released = [&w] { return w.result.has_value(); };
    if (timeoutMs == kInfinite) {
      w.wake.wait(lock, released);
    } else if (!w.wake.wait_until(lock, deadline, released)) {
      detail::WaitList::Delist(w);
      return WaitResult::Timeout;
    }
    return *w.result;
  }

  void Sleep(uint32_t ms) override {
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    } while (ms == kInfinite);
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

uint32_t GetTickCount() {
  return SystemClock().TickCount();
}

}  // namespace tarvo
