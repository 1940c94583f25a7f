#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial/UniqueFd.h"

namespace tarvo {

// The far end of a test line: a pseudo-terminal master whose slave path stands in for a device.
class PseudoTerminal {
 public:
  PseudoTerminal();  // fails the calling test (fatal) when no pseudo-terminal can be made

  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_.Get(); }

  void Send(const std::vector<std::uint8_t>& bytes);
  // What arrives within `wait`, stopping early once `count` bytes are in.
  std::vector<std::uint8_t> Receive(std::size_t count,
                                    std::chrono::milliseconds wait = std::chrono::seconds(5));
  void CloseMaster() { master_.Reset(); }

 private:
  UniqueFd master_;
  std::string slavePath_;
};

}  // namespace tarvo
