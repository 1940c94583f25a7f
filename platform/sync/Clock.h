#pragma once

#include <cstdint>

#include "platform/sync/Event.h"

namespace tarvo {

enum class WaitResult { Object0, Object1, Timeout };

// The time base of every timed wait, so tests of workers can drive time by hand.
class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds; wraps every 2^32 ms, so compare ticks only by unsigned difference.
  virtual uint32_t TickCount() = 0;
  // The same time base as TickCount, never wrapping.
  virtual uint64_t NowMs() = 0;
  // Waits for `a` or `b` (b may be null). When both are set, `a` wins; an auto-reset event is
  // consumed only when returned. kInfinite never times out, 0 only polls. `a` must not be null.
  virtual WaitResult Wait(Event* a, Event* b, uint32_t timeoutMs) = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

// The real, monotonic clock.
Clock& SystemClock();

uint32_t GetTickCount();

}  // namespace tarvo
