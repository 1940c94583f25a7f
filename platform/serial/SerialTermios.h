#pragma once

#include <termios.h>

namespace tarvo {

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialStopBits { One, OneAndHalf, Two };

struct SerialFormat {
  int dataBits = 8;
  SerialParity parity = SerialParity::None;
  SerialStopBits stopBits = SerialStopBits::One;
};

// The termios speed constant for a supported baud rate, B0 for any other.
speed_t BaudToSpeed(int baud);

// Rewrites only the frame bits of `t` (size, parity, stop bits), kept apart from the port so the
// flags can be checked where a pseudo-terminal would mask some of them. Data bits outside 5..8
// are taken as 8. Returns false when the frame had to be approximated.
bool ApplyFormat(termios& t, const SerialFormat& f);

}  // namespace tarvo
