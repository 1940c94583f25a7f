#pragma once
// The receive-answer loop over one serial line.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tools/devsim/Options.h"
#include "tools/devsim/RequestFramer.h"
#include "tools/devsim/Slave.h"

namespace tarvo::devsim {

// Serves requests arriving on fd until stop is set or the optional deadline of the options.
class Server {
 public:
  Server(const Options& options, int fd, Slave& slave);

  // Returns when stop becomes non-zero or the time of --exit-after-ms has passed.
  void Run(const volatile std::sig_atomic_t& stop);

 private:
  using Clock = std::chrono::steady_clock;

  void Answer(const RequestFrame& frame, const volatile std::sig_atomic_t& stop);
  void Send(const std::vector<std::uint8_t>& bytes, const volatile std::sig_atomic_t& stop);
  void Log(const char* what, const std::vector<std::uint8_t>& bytes) const;
  // Sleeps ms, waking early when stop is set.
  static void Pause(int ms, const volatile std::sig_atomic_t& stop);

  const Options& options_;
  int fd_;
  Slave& slave_;
  RequestFramer framer_;
  std::mt19937 rng_;
  Clock::time_point start_ = Clock::now();
};

}  // namespace tarvo::devsim
