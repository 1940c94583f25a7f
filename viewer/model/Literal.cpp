#include "viewer/model/Literal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace tarvo {
namespace {

std::optional<std::uint64_t> ParseDigits(std::string_view s, int base) {
  if (s.empty()) return std::nullopt;
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> ParseDecimal(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  auto digits = ParseDigits(s, 10);
  if (!digits || *digits > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return std::nullopt;
  auto v = static_cast<std::int64_t>(*digits);
  return negative ? -v : v;
}

// Accepts "." or "," as the decimal separator; digits, an optional fraction, an optional
// exponent; nothing else (no inf or nan).
std::optional<double> ParseFloat(std::string_view text) {
  std::string s(text);
  if (auto comma = s.find(','); comma != std::string::npos) s[comma] = '.';
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissa = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++mantissa;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++mantissa;
  }
  if (mantissa == 0) return std::nullopt;
  if (i < s.size() && s[i] == 'e') {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exponent = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exponent;
    if (exponent == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
  double v = 0;
  auto [p, ec] = std::from_chars(begin, s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

struct IntType {
  VarType vt;
  std::int64_t min;
  std::int64_t max;
  int hexDigits;
  int binDigits;
};

constexpr std::array<IntType, 6> kLiteralTypes{{
    {VT_UI1, 0, 255, 2, 8},
    {VT_I1, -128, 127, 2, 8},
    {VT_UI2, 0, 65535, 4, 16},
    {VT_I2, -32768, 32767, 4, 16},
    {VT_UI4, 0, 4294967295LL, 8, 32},
    {VT_I4, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), 8,
     32},
}};

}  // namespace

bool ParseFormulaLiteral(std::string_view s, Variant& value) {
  if (s.empty()) return false;
  enum class Mode { Hex, Bin, Dec } mode = Mode::Dec;
  std::string_view digits = s;
  if (s.front() == '$') {
    mode = Mode::Hex, digits = s.substr(1);
  } else if (s.size() >= 2 && s[0] == '0' && s[1] == 'x') {
    mode = Mode::Hex, digits = s.substr(2);
  } else if (s.back() == 'h') {
    mode = Mode::Hex, digits = s.substr(0, s.size() - 1);
  } else if (s.back() == 'b') {
    mode = Mode::Bin, digits = s.substr(0, s.size() - 1);
  }
  std::optional<std::int64_t> number;
  if (mode == Mode::Hex) {
    if (auto v = ParseDigits(digits, 16); v && digits.size() <= 8) number = *v;
  } else if (mode == Mode::Bin) {
    if (auto v = ParseDigits(digits, 2); v && digits.size() <= 32) number = *v;
  } else {
    number = ParseDecimal(digits);
  }
  if (number) {
    const auto count = static_cast<int>(digits.size());
    for (const IntType& t : kLiteralTypes) {
      if (mode == Mode::Hex && count > t.hexDigits) continue;
      if (mode == Mode::Bin && count > t.binDigits) continue;
      if (*number < t.min || *number > t.max) continue;
      value = Variant::FromInt(t.vt, *number);
      return true;
    }
  }
  // The 64-bit float takes decimal text only.
  if (mode != Mode::Dec) return false;
  if (auto v = ParseFloat(s)) {
    value = Variant(*v);
    return true;
  }
  return false;
}

}  // namespace tarvo
