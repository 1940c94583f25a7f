#include "platform/serial/PortName.h"

#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/ini/IniFile.h"
#include "platform/serial/SerialPort.h"

namespace tarvo {
namespace {

constexpr int kMaxComNumber = 256;

// The n of "COMn", when the name is one.
std::optional<int> ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (int i = 0; i < 3; ++i) {
    if ((name[i] & ~0x20) != "COM"[i]) return std::nullopt;
  }
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
    n = n * 10 + (name[i] - '0');
  }
  if (name[3] == '0' || n < 1 || n > kMaxComNumber) return std::nullopt;
  return n;
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

}  // namespace

std::string ResolvePortName(const std::string& name, const std::string& iniFileName) {
  std::string path;
  if (const auto n = ComNumber(name)) {
    const std::string key = "COM" + std::to_string(*n);
    if (!iniFileName.empty()) path = IniFile(iniFileName).ReadString("Ports", key, "");
    if (path.empty()) path = "/dev/ttyS" + std::to_string(*n - 1);
  } else if (!name.empty() && name.front() == '/') {
    path = name;
  } else {
    throw SerialError("Not a serial port name: \"" + name + "\" (expected COMn or an absolute path)");
  }
  return RealPath(path);
}

}  // namespace tarvo
