#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarvo {

// An 8-bit code page with ASCII in its lower half, mapped both ways by table.
class CodePage {
 public:
  using UpperHalf = std::array<char16_t, 128>;  // code points of bytes 0x80..0xFF

  static const CodePage& Windows1251();
  static const CodePage& Dos866();

  constexpr explicit CodePage(const UpperHalf& upper) : upper_(upper) {
    for (int i = 0; i < 128; ++i) reverse_[i] = {upper[i], static_cast<uint8_t>(0x80 + i)};
    std::sort(reverse_.begin(), reverse_.end());
  }

  char32_t ToUnicode(uint8_t b) const { return b < 0x80 ? b : upper_[b - 0x80]; }
  std::optional<uint8_t> FromUnicode(char32_t cp) const;

  std::string ToUtf8(std::string_view bytes) const;
  // Characters the code page lacks and ill-formed UTF-8 become '?'.
  std::string FromUtf8(std::string_view utf8) const;

 private:
  UpperHalf upper_;
  std::array<std::pair<char16_t, uint8_t>, 128> reverse_{};  // sorted by code point
};

}  // namespace tarvo
