#pragma once
// Hex fixtures of stored bytes for the data model's tests.

#include <string>
#include <string_view>

namespace tarvo::testing {

// "01 0a ff" -> bytes; blanks are ignored.
inline std::string Hex(std::string_view text) {
  std::string out;
  int hi = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<char>(hi * 16 + v));
      hi = -1;
    }
  }
  return out;
}

}  // namespace tarvo::testing
