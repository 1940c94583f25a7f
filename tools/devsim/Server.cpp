#include "tools/devsim/Server.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include "tools/devsim/HexText.h"

namespace tarvo::devsim {

namespace {

// RTU frames end with a silence; ASCII characters may legally come slowly.
constexpr int kRtuGapMs = 20;
constexpr int kAsciiGapMs = 1000;
constexpr int kIdlePollMs = 100;

}  // namespace

Server::Server(const Options& options, int fd, Slave& slave)
    : options_(options), fd_(fd), slave_(slave), framer_(options.mode),
      rng_(static_cast<std::uint32_t>(std::random_device{}())) {}

void Server::Pause(int ms, const volatile std::sig_atomic_t& stop) {
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stop && Clock::now() < until) {
    auto left = until - Clock::now();
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(10)));
  }
}

void Server::Log(const char* what, const std::vector<std::uint8_t>& bytes) const {
  if (!options_.verbose) return;
  std::fprintf(stderr, "%s %s\n", what, ToHexText(bytes).c_str());
}

void Server::Send(const std::vector<std::uint8_t>& bytes, const volatile std::sig_atomic_t& stop) {
  std::size_t split = options_.faults.splitPauseMs > 0 ? bytes.size() / 2 : bytes.size();
  std::size_t done = 0;
  while (done < bytes.size() && !stop) {
    if (done == split && split > 0 && split < bytes.size()) Pause(options_.faults.splitPauseMs, stop);
    std::size_t end = done < split ? split : bytes.size();
    ssize_t n = ::write(fd_, bytes.data() + done, end - done);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw std::system_error(errno, std::generic_category(), "write");
    }
    done += static_cast<std::size_t>(n);
  }
}

void Server::Answer(const RequestFrame& frame, const volatile std::sig_atomic_t& stop) {
  Log(frame.checksumOk ? "<-" : "<- (bad checksum)", frame.pdu);
  if (!frame.checksumOk) {
    slave_.CountChecksumError();
    return;
  }
  SlaveClock clock;
  clock.uptimeSec = std::chrono::duration<double>(Clock::now() - start_).count();
  clock.unixSec = static_cast<std::int64_t>(std::time(nullptr));
  auto answer = slave_.Handle(frame.pdu, clock);
  if (!answer || options_.faults.silent) return;
  std::vector<std::uint8_t> bytes = ShapeAnswer(*answer, options_.mode, options_.faults, rng_);
  if (options_.faults.delayMs > 0) Pause(options_.faults.delayMs, stop);
  Log("->", bytes);
  Send(bytes, stop);
}

void Server::Run(const volatile std::sig_atomic_t& stop) {
  const int gapMs = options_.mode == mmRTU ? kRtuGapMs : kAsciiGapMs;
  const bool timed = options_.exitAfterMs > 0;
  const auto deadline = start_ + std::chrono::milliseconds(options_.exitAfterMs);
  auto lastByte = Clock::now();
  std::vector<RequestFrame> frames;
  std::uint8_t buf[512];
  while (!stop) {
    auto now = Clock::now();
    if (timed && now >= deadline) return;
    int waitMs = kIdlePollMs;
    if (framer_.Pending()) {
      auto sinceMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(now - lastByte).count();
      if (sinceMs >= gapMs) {
        framer_.QuietGap(frames);
        waitMs = 0;
      } else {
        waitMs = static_cast<int>(gapMs - sinceMs);
      }
    }
    if (timed) {
      auto leftMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      waitMs = static_cast<int>(std::min<long long>(waitMs, leftMs + 1));
    }
    for (const RequestFrame& f : frames) Answer(f, stop);
    frames.clear();
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (r == 0) continue;
    if (p.revents & (POLLERR | POLLNVAL)) throw std::runtime_error("the serial line failed");
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw std::system_error(errno, std::generic_category(), "read");
    }
    if (n == 0) {  // a hang-up with nothing to read: do not spin
      Pause(kIdlePollMs, stop);
      continue;
    }
    lastByte = Clock::now();
    framer_.Feed(buf, static_cast<int>(n), frames);
    for (const RequestFrame& f : frames) Answer(f, stop);
    frames.clear();
  }
}

}  // namespace tarvo::devsim
