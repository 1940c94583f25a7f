#pragma once
// Deliberate misbehaviour, so that tests of the master can meet every kind of bad answer.

#include <cstdint>
#include <random>
#include <vector>

#include "server/core/Definitions.h"

namespace tarvo::devsim {

// The fault switches of the command line.
struct Faults {
  bool silent = false;
  bool badChecksum = false;
  bool wrongAddr = false;
  std::uint8_t exception = 0;  // 0: none
  int splitPauseMs = 0;        // 0: the answer in one write
  int garbage = 0;             // random bytes before each answer
  int delayMs = 0;
};

// The bytes to send for an answer (address, function, data): framed in mode, then spoilt as the
// faults ask. Splitting and delays are timing and are left to the writer.
std::vector<std::uint8_t> ShapeAnswer(std::vector<std::uint8_t> pdu, TModbusMode mode,
                                      const Faults& faults, std::mt19937& rng);

}  // namespace tarvo::devsim
