#include "platform/sync/Event.h"

#include "platform/sync/Clock.h"
#include "platform/sync/WaitList.h"

namespace tarvo {

Event::Event(bool manualReset, bool initiallySet)
    : manualReset_(manualReset), signalled_(initiallySet) {}

void Event::Set() {
  std::lock_guard lock(detail::SyncMutex());
  detail::WaitList::Signal(*this);
}

void Event::Reset() {
  std::lock_guard lock(detail::SyncMutex());
  signalled_ = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(detail::SyncMutex());
  return signalled_;
}

bool Event::Wait(uint32_t timeoutMs) {
  return SystemClock().Wait(this, nullptr, timeoutMs) == WaitResult::Object0;
}

}  // namespace tarvo
