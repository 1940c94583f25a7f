#pragma once
// The line the simulator serves: the master side of a new pseudo-terminal, or a serial device.

#include <string>

#include "tools/devsim/UniqueFd.h"

namespace tarvo::devsim {

// An open, raw serial line. Raises std::system_error when it cannot be set up.
class SerialLink {
 public:
  static SerialLink CreatePty();
  static SerialLink OpenDevice(const std::string& path, int baud);

  int Fd() const { return fd_.Get(); }
  // For a pseudo-terminal, the path a client opens.
  const std::string& SlavePath() const { return slavePath_; }

 private:
  SerialLink() = default;

  UniqueFd fd_;
  // Our own hold on the pseudo-terminal's slave side: without one, reading the master fails
  // with EIO whenever no client has it open.
  UniqueFd slaveHold_;
  std::string slavePath_;
};

}  // namespace tarvo::devsim
