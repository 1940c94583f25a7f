#include "platform/sync/WaitList.h"

#include <algorithm>

namespace tarvo::detail {

std::mutex& SyncMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<WaitResult> WaitList::TryAcquire(Event* a, Event* b) {
  const WaitResult results[2] = {WaitResult::Object0, WaitResult::Object1};
  Event* events[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    Event* e = events[i];
    if (e == nullptr || !e->signalled_) continue;
    if (!e->manualReset_) e->signalled_ = false;
    return results[i];
  }
  return std::nullopt;
}

void WaitList::Enlist(Waiter& w) {
  for (Event* e : w.events) {
    if (e != nullptr) e->waiters_.push_back(&w);
  }
}

void WaitList::Delist(Waiter& w) {
  for (Event* e : w.events) {
    if (e != nullptr) std::erase(e->waiters_, &w);
  }
}

void WaitList::Release(Waiter& w, WaitResult result) {
  Delist(w);
  w.result = result;
  // Notified under the lock: once it is dropped the waiter may return and destroy `wake`.
  w.wake.notify_one();
}

void WaitList::Signal(Event& e) {
  auto resultFor = [&e](const Waiter& w) {
    return w.events[0] == &e ? WaitResult::Object0 : WaitResult::Object1;
  };
  if (e.manualReset_) {
    e.signalled_ = true;
    const std::vector<Waiter*> released = e.waiters_;
    for (Waiter* w : released) Release(*w, resultFor(*w));
    return;
  }
  // An auto-reset event goes straight to its oldest waiter and stays reset, so no other
  // thread can steal it between the wake-up and the waiter running.
  if (e.waiters_.empty()) {
    e.signalled_ = true;
  } else {
    Waiter* w = e.waiters_.front();
    Release(*w, resultFor(*w));
  }
}

}  // namespace tarvo::detail
