#pragma once

#include <string>

namespace tarvo {

// "COMn" (any case) gives key "COMn" of section "Ports" of the settings file `iniFileName` when
// present, else "/dev/ttyS{n-1}"; an absolute path is used as it is; anything else raises
// SerialError. The result is the device's real path when it exists, so "COM1" and the device it
// maps to name the same link. An empty `iniFileName` skips the settings file.
std::string ResolvePortName(const std::string& name, const std::string& iniFileName);

}  // namespace tarvo
