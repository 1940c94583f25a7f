#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/sync/Clock.h"
#include "platform/sync/Event.h"

namespace tarvo::detail {

// One lock guards every Event and FakeClock, so a wait on two events needs no lock order.
std::mutex& SyncMutex();

// A thread blocked on up to two events; lives on that thread's stack while it waits.
struct Waiter {
  Event* events[2] = {nullptr, nullptr};
  std::optional<WaitResult> result;  // set once, by whoever releases the waiter
  std::condition_variable wake;
};

// The hand-off between Set and blocked waiters; every call needs SyncMutex() held.
class WaitList {
 public:
  // Takes the first signalled event in argument order, consuming it if auto-reset.
  static std::optional<WaitResult> TryAcquire(Event* a, Event* b);
  static void Enlist(Waiter& w);
  // Ends the wait with `result` and removes it from its events; the waiter is woken.
  static void Release(Waiter& w, WaitResult result);
  static void Signal(Event& e);
  static void Delist(Waiter& w);
};

}  // namespace tarvo::detail
