#include "platform/sync/FakeClock.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include "platform/sync/WaitList.h"

namespace tarvo {

FakeClock::FakeClock(uint64_t startMs) : nowMs_(startMs) {}

uint32_t FakeClock::TickCount() {
  return static_cast<uint32_t>(NowMs());
}

uint64_t FakeClock::NowMs() {
  std::lock_guard lock(detail::SyncMutex());
  return nowMs_;
}

WaitResult FakeClock::Wait(Event* a, Event* b, uint32_t timeoutMs) {
  assert(a != nullptr);
  return Block(a, b, timeoutMs);
}

void FakeClock::Sleep(uint32_t ms) {
  if (ms != 0) Block(nullptr, nullptr, ms);
}

WaitResult FakeClock::Block(Event* a, Event* b, uint32_t timeoutMs) {
  std::unique_lock lock(detail::SyncMutex());
  if (auto acquired = detail::WaitList::TryAcquire(a, b)) return *acquired;
  if (timeoutMs == 0) return WaitResult::Timeout;

  detail::Waiter w;
  w.events[0] = a;
  w.events[1] = b;
  detail::WaitList::Enlist(w);
  blocked_.push_back({&w, timeoutMs == kInfinite ? kNever : nowMs_ + timeoutMs});
  blockedChanged_.notify_all();
  w.wake.wait(lock, [&w] { return w.result.has_value(); });
  std::erase_if(blocked_, [&w](const Timed& t) { return t.waiter == &w; });
  return *w.result;
}

void FakeClock::Advance(uint32_t ms) {
  std::lock_guard lock(detail::SyncMutex());
  nowMs_ += ms;
  for (const Timed& t : blocked_) {
    if (!t.waiter->result && t.deadline <= nowMs_) {
      detail::WaitList::Release(*t.waiter, WaitResult::Timeout);
    }
  }
}

size_t FakeClock::Waiters() const {
  std::lock_guard lock(detail::SyncMutex());
  return PendingLocked();
}

bool FakeClock::WaitForWaiters(size_t n, uint32_t realTimeoutMs) {
  std::unique_lock lock(detail::SyncMutex());
  return blockedChanged_.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                                  [&] { return PendingLocked() >= n; });
}

// A released waiter stays in blocked_ until it runs again, but no longer counts: a test that
// steps a worker must not mistake the old wait for the next one.
size_t FakeClock::PendingLocked() const {
  return static_cast<size_t>(std::count_if(blocked_.begin(), blocked_.end(),
                                           [](const Timed& t) { return !t.waiter->result; }));
}

}  // namespace tarvo
