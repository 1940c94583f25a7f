#include "tools/devsim/SerialLink.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarvo::devsim {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd, const std::string& what, speed_t speed) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) Fail(what + ": tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (speed != B0 && (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0))
    Fail(what + ": speed");
  if (tcsetattr(fd, TCSANOW, &t) != 0) Fail(what + ": tcsetattr");
}

speed_t Speed(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: errno = EINVAL; Fail("unsupported baud rate " + std::to_string(baud));
  }
}

}  // namespace

SerialLink SerialLink::CreatePty() {
  SerialLink link;
  link.fd_.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!link.fd_.Valid()) Fail("posix_openpt");
  if (grantpt(link.fd_.Get()) != 0) Fail("grantpt");
  if (unlockpt(link.fd_.Get()) != 0) Fail("unlockpt");
  char name[256];
  if (ptsname_r(link.fd_.Get(), name, sizeof name) != 0) Fail("ptsname_r");
  link.slavePath_ = name;
  link.slaveHold_.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!link.slaveHold_.Valid()) Fail(link.slavePath_);
  MakeRaw(link.slaveHold_.Get(), link.slavePath_, B0);
  return link;
}

SerialLink SerialLink::OpenDevice(const std::string& path, int baud) {
  speed_t speed = Speed(baud);
  SerialLink link;
  link.fd_.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!link.fd_.Valid()) Fail(path);
  MakeRaw(link.fd_.Get(), path, speed);
  return link;
}

}  // namespace tarvo::devsim
