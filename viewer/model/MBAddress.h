#pragma once
// TMBAddress: the start register or bit address of a frame, and its text.

#include <cstdint>
#include <string>

namespace tarvo {

struct TMBAddress {
  std::uint32_t Address = 0;

  // Upper-case hexadecimal, at least four digits (255 gives "00FF").
  std::string Text() const;
  bool operator==(const TMBAddress&) const = default;
};

}  // namespace tarvo
