#pragma once
// The command line of tarvo-devsim.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/core/Definitions.h"
#include "tools/devsim/Faults.h"

namespace tarvo::devsim {

// A command line that cannot be run; the message says which option.
class OptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the command line asks for.
struct Options {
  TModbusMode mode = mmRTU;
  std::uint8_t address = 1;
  std::string link;    // symbolic link to the pseudo-terminal; empty for none
  std::string device;  // an existing serial device instead of a pseudo-terminal
  int baud = 9600;
  std::string mapFile;
  int exitAfterMs = 0;  // 0: run until a signal
  bool verbose = false;
  bool help = false;
  Faults faults;
};

// Raises OptionError.
Options ParseOptions(const std::vector<std::string>& args);
std::string HelpText();

}  // namespace tarvo::devsim
