#pragma once
// Small builders shared by the ModBus tests: hex fixtures and request arrays.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/variant/OleToVar.h"
#include "platform/variant/Variant.h"

namespace tarvo::testing {

inline std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
  return out;
}

inline std::vector<std::uint8_t> Chars(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline std::string ToHex(const std::uint8_t* b, int n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (int k = 0; k < n; ++k) {
    if (k) s += ' ';
    s += digits[b[k] >> 4];
    s += digits[b[k] & 15];
  }
  return s;
}

inline Variant Arr(std::vector<Variant> items) {
  return Variant(SafeArray::Of(VT_VARIANT, std::move(items)));
}

// A request array as a client builds it, normalised as the automation methods do.
inline Variant Req(std::vector<Variant> items) {
  Variant out;
  OleToVar(Arr(std::move(items)), out);
  return out;
}

inline Variant U8(int v) { return Variant(static_cast<std::uint8_t>(v)); }
inline Variant U16(int v) { return Variant(static_cast<std::uint16_t>(v)); }
inline Variant I16(int v) { return Variant(static_cast<std::int16_t>(v)); }

}  // namespace tarvo::testing
