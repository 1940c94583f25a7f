#include "platform/serial/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarvo {
namespace {

constexpr int kIdlePollMs = 50;     // only a safety net: the stop eventfd wakes the thread
constexpr int kTxPollMs = 1;        // how often a draining transmitter is looked at
constexpr int kRxStallPollMs = 10;  // pause after a callback that left the input untouched
constexpr auto kWriteWait = std::chrono::seconds(1);

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw SerialError("Cannot open " + path + ": " + why);
}

[[noreturn]] void FailErrno(const std::string& path, int err) {
  if (err == EBUSY || err == EWOULDBLOCK) Fail(path, path + " is in use");
  Fail(path, std::strerror(err));
}

// Pseudo-terminals and some USB adapters lack modem control and a few termios ioctls.
bool NotSupported(int err) {
  return err == ENOTTY || err == EINVAL;
}

int Pending(int fd) {
  int n = 0;
  return ::ioctl(fd, FIONREAD, &n) == 0 && n > 0 ? n : 0;
}

UniqueFd MakeEventFd(const std::string& path) {
  UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd.Valid()) FailErrno(path, errno);
  return fd;
}

}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
  std::lock_guard lock(lifecycle_);
  Finish();
}

bool SerialPort::IsSupportedBaud(int baud) {
  return BaudToSpeed(baud) != B0;
}

void SerialPort::Open(const std::string& path, int baud, bool hardwareFlow) {
  if (eventThread_.load() == std::this_thread::get_id())
    Fail(path, "the port cannot be reopened from its own callback");
  std::lock_guard lock(lifecycle_);
  Finish();

  const speed_t speed = BaudToSpeed(baud);
  if (speed == B0) Fail(path, "unsupported baud rate " + std::to_string(baud));

  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) FailErrno(path, errno);
  // flock holds even against root, which TIOCEXCL lets through.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) FailErrno(path, errno);
  if (::ioctl(fd.Get(), TIOCEXCL) != 0 && !NotSupported(errno)) FailErrno(path, errno);

  termios t{};
  if (::tcgetattr(fd.Get(), &t) != 0) FailErrno(path, errno);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  if (hardwareFlow)
    t.c_cflag |= CRTSCTS;
  else
    t.c_cflag &= ~CRTSCTS;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd.Get(), TCSANOW, &t) != 0) FailErrno(path, errno);
  ::tcflush(fd.Get(), TCIOFLUSH);  // whatever arrived before we owned the line is stale

  UniqueFd stop = MakeEventFd(path);
  UniqueFd kick = MakeEventFd(path);
  {
    std::unique_lock guard(fdLock_);
    fd_ = std::move(fd);
    stop_ = std::move(stop);
    kick_ = std::move(kick);
  }
  stopping_ = false;
  writes_ = 0;
  successfulReads_ = 0;
  open_ = true;
  try {
    thread_ = std::thread(&SerialPort::EventLoop, this);
  } catch (const std::system_error& e) {
    Finish();
    Fail(path, e.what());
  }
}

void SerialPort::Close() {
  if (eventThread_.load() == std::this_thread::get_id()) {
    Stop();  // joining ourselves would hang; the owner completes the close
    return;
  }
  std::lock_guard lock(lifecycle_);
  Finish();
}

bool SerialPort::IsOpen() const {
  return open_ && !stopping_;
}

void SerialPort::Stop() {
  stopping_ = true;
  Signal(stop_.Get());
}

void SerialPort::Finish() {
  if (!open_ && !thread_.joinable()) return;
  Stop();
  if (thread_.joinable()) thread_.join();
  eventThread_ = std::thread::id();
  std::unique_lock guard(fdLock_);
  if (fd_.Valid()) ::ioctl(fd_.Get(), TIOCNXCL);
  fd_.Reset();
  stop_.Reset();
  kick_.Reset();
  open_ = false;
}

void SerialPort::Signal(int fd) {
  if (fd < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

bool SerialPort::SetFormat(const SerialFormat& f) {
  std::shared_lock guard(fdLock_);
  if (!fd_.Valid()) return false;
  termios t{};
  if (::tcgetattr(fd_.Get(), &t) != 0) return false;
  const bool exact = ApplyFormat(t, f);
  if (::tcsetattr(fd_.Get(), TCSANOW, &t) != 0) return false;
  return exact;
}

int SerialPort::InputCount() {
  std::shared_lock guard(fdLock_);
  return fd_.Valid() ? Pending(fd_.Get()) : 0;
}

int SerialPort::Read(std::uint8_t* buf, int max) {
  if (buf == nullptr || max <= 0) return 0;
  std::shared_lock guard(fdLock_);
  if (!fd_.Valid()) return 0;
  ssize_t n;
  do {
    n = ::read(fd_.Get(), buf, static_cast<size_t>(max));
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  successfulReads_.fetch_add(1);
  return static_cast<int>(n);
}

bool SerialPort::WriteByte(std::uint8_t b) {
  if (stopping_) return false;
  std::shared_lock guard(fdLock_);
  if (!fd_.Valid()) return false;
  const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
  for (;;) {
    const ssize_t n = ::write(fd_.Get(), &b, 1);
    if (n == 1) {
      writes_.fetch_add(1, std::memory_order_release);
      Signal(kick_.Get());
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p[2] = {{fd_.Get(), POLLOUT, 0}, {stop_.Get(), POLLIN, 0}};
    if (::poll(p, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    if (p[1].revents != 0) return false;  // Close is under way
    if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
  }
}

void SerialPort::PurgeOutput() {
  std::shared_lock guard(fdLock_);
  if (fd_.Valid()) ::tcflush(fd_.Get(), TCOFLUSH);
}

void SerialPort::SetRTS(bool on) {
  std::shared_lock guard(fdLock_);
  if (!fd_.Valid()) return;
  int bits = TIOCM_RTS;
  // Failure is only expected where there is no RTS line; there is nothing better to do anyway.
  [[maybe_unused]] int rc = ::ioctl(fd_.Get(), on ? TIOCMBIS : TIOCMBIC, &bits);
}

void SerialPort::EventLoop() {
  eventThread_ = std::this_thread::get_id();
  // Stable until Finish has joined this thread.
  const int fd = fd_.Get();
  const int stop = stop_.Get();
  const int kick = kick_.Get();
  std::uint64_t reported = 0;
  bool hungUp = false;
  bool rxStalled = false;
  while (!stopping_) {
    const bool txWaiting = writes_.load(std::memory_order_acquire) != reported;
    const bool wantRx = OnRxChar && !rxStalled;
    // A hung-up line keeps reporting POLLHUP; leaving it out stops the spin.
    pollfd p[3] = {{stop, POLLIN, 0},
                   {kick, POLLIN, 0},
                   {hungUp ? -1 : fd, static_cast<short>(wantRx ? POLLIN : 0), 0}};
    const int timeout = txWaiting ? kTxPollMs : rxStalled ? kRxStallPollMs : kIdlePollMs;
    if (::poll(p, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (p[0].revents != 0 || stopping_) break;
    if ((p[1].revents & POLLIN) != 0) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t n = ::read(kick, &v, sizeof v);
    }
    rxStalled = false;
    if ((p[2].revents & POLLIN) != 0) {
      const std::uint64_t readsBefore = successfulReads_.load();
      OnRxChar();
      if (stopping_) break;
      rxStalled = successfulReads_.load() == readsBefore && Pending(fd) > 0;
    }
    if ((p[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp = true;
    CheckTxEmpty(fd, reported);
  }
}

void SerialPort::CheckTxEmpty(int fd, std::uint64_t& reported) {
  // Read before looking at the queue, so every byte counted has been queued already.
  const std::uint64_t written = writes_.load(std::memory_order_acquire);
  if (written == reported) return;
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) return;
  // The driver queue can be empty while the UART still shifts out its last byte.
  unsigned int lsr = 0;
  if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0) return;
  reported = written;
  if (OnTxEmpty) OnTxEmpty();
}

}  // namespace tarvo
