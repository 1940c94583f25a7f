#include "platform/serial/SerialTermios.h"

namespace tarvo {

speed_t BaudToSpeed(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

bool ApplyFormat(termios& t, const SerialFormat& f) {
  bool exact = true;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  switch (f.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default:
      t.c_cflag |= CS8;
      exact = false;
      break;
  }
  switch (f.parity) {
    case SerialParity::None: break;
    case SerialParity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case SerialParity::Even: t.c_cflag |= PARENB; break;
    case SerialParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SerialParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  switch (f.stopBits) {
    case SerialStopBits::One: break;
    case SerialStopBits::Two: t.c_cflag |= CSTOPB; break;
    // Linux cannot send one and a half: two keep the receiver on the far side in step.
    case SerialStopBits::OneAndHalf:
      t.c_cflag |= CSTOPB;
      exact = false;
      break;
  }
  return exact;
}

}  // namespace tarvo
