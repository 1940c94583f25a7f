#pragma once
// What the server window asks of the running server. Called on the window's thread only; the
// implementation takes whatever locks the server's lists need.

#include <string>
#include <vector>

namespace tarvo {

class IServerView {
 public:
  virtual ~IServerView() = default;
  // The live transports in the factory's order, by class name ("TRS232Transport").
  virtual std::vector<std::string> TransportNames() = 0;
  // The live masters in the factory's order, by class name.
  virtual std::vector<std::string> MasterNames() = 0;
};

}  // namespace tarvo
