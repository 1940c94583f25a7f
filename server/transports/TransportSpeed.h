#pragma once
// The speed index of the serial property arrays: baud rate, the rate shown in texts, and the
// character gap that is the least inter-byte timeout.

#include <cstdint>

namespace tarvo {

enum TTransportSpeed : std::uint8_t {
  ts1200 = 0, ts2400 = 1, ts4800 = 2, ts9600 = 3, ts19200 = 4, ts38400 = 5, ts57600 = 6,
  ts115200 = 7, tsOther = 8,
};

enum TComFC : std::uint8_t { cfcNone = 0, cfcHardware = 1 };

// Bits per second; -1 for tsOther and unknown indexes.
int SpeedBitsPerSecond(int index);
// Character gap in ms; -1 when the index has no rate.
int SpeedCharGap(int index);

// Waits about ms milliseconds by spinning on the high-resolution clock, never sleeping: the
// pause before a frame and the RS-485 turnaround are far below the scheduler's tick.
void DelayApply(int ms);

}  // namespace tarvo
