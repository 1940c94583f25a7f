#pragma once
// TCustomFormat: the 517-byte record of a user-defined export format (archive and graph exports,
// format kind 4 of journals).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace tarvo {

struct TCustomFormat {
  static constexpr std::size_t kSize = 517;
  static constexpr std::size_t kMaxText = 255;  // bytes in code page 1251

  bool ShowTitle = false;       // not used by the archive export
  bool ShowFieldNames = false;
  bool ShowUnits = false;
  std::uint8_t Separator = 0;   // a character code in 1251
  bool CrLf = false;            // line end: CR LF when set, CR alone otherwise
  std::string TextBefore;       // UTF-8, at most kMaxText bytes once in 1251
  std::string TextAfter;

  // Flags read as set when their byte is non-zero; bytes past a text's length are ignored.
  static TCustomFormat FromBytes(std::span<const std::uint8_t, kSize> bytes);
  // Unused bytes of the text fields are zero. A text too long for its 255-byte field raises
  // std::length_error instead of being cut.
  std::array<std::uint8_t, kSize> ToBytes() const;

  bool operator==(const TCustomFormat&) const = default;
};

}  // namespace tarvo
