#pragma once
// The line-based text that describes a device map, and the built-in map used without one.

#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/devsim/DeviceMap.h"

namespace tarvo::devsim {

// A map text that cannot be used; the message names the line.
class MapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The map a device starts with when no file is given, in map file syntax.
extern const char* const kDefaultMapText;
// The syntax, for --help.
extern const char* const kMapFormatHelp;

// Applies the lines of text to map (later lines replace earlier points). Raises MapError.
void ParseMap(std::string_view text, DeviceMap& map);
// A map from a file; the error message starts with the path. Raises MapError.
DeviceMap LoadMapFile(const std::string& path);
DeviceMap DefaultMap();

}  // namespace tarvo::devsim
