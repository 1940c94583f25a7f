#include "viewer/model/ValueConv.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/variant/OleDate.h"
#include "viewer/model/LastErr.h"

namespace tarvo {
namespace {

bool IsIntegerType(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_ERROR: return true;
    default: return false;
  }
}

bool IsFloatType(VarType vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

// The low 64 bits of a value truncated toward zero; floats beyond 64 bits wrap as integers
// would, NaN and infinities give 0 (a plain cast would be undefined).
std::uint64_t LowBits(const Variant& v) {
  const VarType vt = v.vt();
  if (vt == VT_UI8) return v.RawUInt();
  if (IsIntegerType(vt) || vt == VT_BOOL || vt == VT_CY) {
    if (vt == VT_CY) return static_cast<std::uint64_t>(v.RawInt() / 10000);
    return static_cast<std::uint64_t>(v.RawInt());
  }
  const double d = std::trunc(IsFloatType(vt) ? v.RawReal() : v.ToDouble());
  if (!std::isfinite(d)) return 0;
  if (std::fabs(d) < 9223372036854775808.0) return static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
  constexpr double k2p64 = 18446744073709551616.0;
  double m = std::fmod(d, k2p64);
  if (m < 0) m += k2p64;
  if (m >= k2p64) m = 0;
  return m >= 9223372036854775808.0
             ? static_cast<std::uint64_t>(m - 9223372036854775808.0) + (std::uint64_t{1} << 63)
             : static_cast<std::uint64_t>(m);
}

double AsDouble(const Variant& v) {
  const VarType vt = v.vt();
  if (IsFloatType(vt)) return v.RawReal();
  if (vt == VT_UI8) return static_cast<double>(v.RawUInt());
  if (IsIntegerType(vt) || vt == VT_BOOL) return static_cast<double>(v.RawInt());
  return v.ToDouble();
}

std::string HexDigits(std::uint64_t bits, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, bits >>= 4) s[static_cast<std::size_t>(i)] = kHex[bits & 0xF];
  return s;
}

// The raw pattern and its width in bits for the types the hexadecimal and binary texts know.
bool Pattern(const Variant& v, std::uint64_t& bits, int& width) {
  switch (v.vt()) {
    case VT_I2: case VT_UI2: bits = static_cast<std::uint16_t>(v.RawInt()); width = 16; return true;
    case VT_I4: case VT_UI4: bits = static_cast<std::uint32_t>(v.RawInt()); width = 32; return true;
    case VT_I1: case VT_UI1: bits = static_cast<std::uint8_t>(v.RawInt()); width = 8; return true;
    case VT_R4: bits = std::bit_cast<std::uint32_t>(static_cast<float>(v.RawReal())); width = 32; return true;
    case VT_R8: bits = std::bit_cast<std::uint64_t>(v.RawReal()); width = 64; return true;
    // Integer formula results are 64-bit; shown whole rather than refused.
    case VT_I8: bits = static_cast<std::uint64_t>(v.RawInt()); width = 64; return true;
    default: return false;
  }
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// [sign] digits [. digits] [e [sign] digits], at least one mantissa digit: no hex floats,
// no "inf" or "nan", which the float notation does not know.
bool IsPlainFloat(std::string_view s) {
  std::size_t i = 0, digits = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t e = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++e;
    if (e == 0) return false;
  }
  return i == s.size();
}

}  // namespace

Variant CastValue(const Variant& value, VarType type) {
  switch (type) {
    case VT_I1: return Variant(static_cast<std::int8_t>(LowBits(value)));
    case VT_UI1: return Variant(static_cast<std::uint8_t>(LowBits(value)));
    case VT_I2: return Variant(static_cast<std::int16_t>(LowBits(value)));
    case VT_UI2: return Variant(static_cast<std::uint16_t>(LowBits(value)));
    case VT_I4: return Variant(static_cast<std::int32_t>(LowBits(value)));
    case VT_UI4: return Variant(static_cast<std::uint32_t>(LowBits(value)));
    case VT_I8: return Variant(static_cast<std::int64_t>(LowBits(value)));
    case VT_R4: return Variant(static_cast<float>(AsDouble(value)));
    case VT_R8: return Variant(AsDouble(value));
    case VT_BOOL:
      if (value.vt() == VT_BOOL) return value;
      return Variant(IsFloatType(value.vt()) ? value.RawReal() != 0 : LowBits(value) != 0 || AsDouble(value) != 0);
    default: return Variant();
  }
}

std::string ValueToHex(const Variant& value) {
  if (value.vt() == VT_BOOL) return value.RawInt() ? "True" : "False";
  std::uint64_t bits = 0;
  int width = 0;
  if (!Pattern(value, bits, width)) return "Данный тип функцией VarToHex не поддерживается";
  // Singles show as sixteen digits, the pattern in the last eight.
  return HexDigits(bits, value.vt() == VT_R4 ? 16 : width / 4);
}

std::string ValueToBin(const Variant& value) {
  std::uint64_t bits = 0;
  int width = 0;
  if (value.vt() == VT_BOOL || !Pattern(value, bits, width)) return "b";
  std::string s;
  s.reserve(static_cast<std::size_t>(width) + 1);
  for (int i = width - 1; i >= 0; --i) s.push_back((bits >> i) & 1 ? '1' : '0');
  return s + "b";
}

double DeviceSecondsToDateTime(std::uint32_t seconds) {
  return kUnixEpochOleDate + static_cast<double>(seconds / 86400) + (seconds % 86400) / 86400.0;
}

std::uint32_t DateTimeToDeviceSeconds(double dateTime) {
  if (!std::isfinite(dateTime) || dateTime < kUnixEpochOleDate) return 0;
  if (dateTime > kMaxOleDate) return std::numeric_limits<std::uint32_t>::max();
  const DateTimeParts p = DecodeOleDate(dateTime);
  const std::int64_t days = DaysFromCivil(p.year, p.month, p.day);
  if (days < 0) return 0;
  const std::int64_t ms = ((p.hour * 60 + p.minute) * 60 + p.second) * 1000LL + p.msec;
  // Half a second rounds to even, as the platform's rounding does.
  const std::int64_t total = days * 86400 + static_cast<std::int64_t>(std::nearbyint(ms / 1000.0));
  return total > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                          : static_cast<std::uint32_t>(total);
}

double StrToFloatAny(std::string_view text, char systemSeparator) {
  auto fail = [&]() -> double {
    TLastErr::Instance().RaiseErrorFmt("'%s' - не вещественное число", {Variant(std::string(text))});
  };
  if (systemSeparator != '.' && systemSeparator != ',') fail();
  std::string s(Trim(text));
  const char other = systemSeparator == '.' ? ',' : '.';
  if (const auto pos = s.find(other); pos != std::string::npos) s[pos] = systemSeparator;
  // The parse itself is always done in "." notation.
  if (systemSeparator == ',') {
    if (s.find('.') != std::string::npos) fail();
    if (const auto pos = s.find(','); pos != std::string::npos) s[pos] = '.';
  }
  if (!IsPlainFloat(s)) fail();
  const char* b = s.data() + (s[0] == '+' ? 1 : 0);
  double d = 0;
  const auto [end, ec] = std::from_chars(b, s.data() + s.size(), d);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(d)) fail();
  return d;
}

bool VariantsEqual(const Variant& a, const Variant& b) {
  if (a.IsArray() || b.IsArray()) {
    if (!a.IsArray() || !b.IsArray()) return false;
    const SafeArray& x = a.Array();
    const SafeArray& y = b.Array();
    if (x.Dims() != 1 || y.Dims() != 1 || x.Lower() != y.Lower() || x.Count() != y.Count()) return false;
    for (std::size_t i = 0; i < x.Size(); ++i)
      if (!VariantsEqual(x.Flat(i), y.Flat(i))) return false;
    return true;
  }
  if (a.vt() == b.vt()) return a == b;
  const auto numeric = [](VarType vt) { return IsIntegerType(vt) || IsFloatType(vt) || vt == VT_BOOL; };
  if (!numeric(a.vt()) || !numeric(b.vt())) return false;
  const bool ints = (IsIntegerType(a.vt()) || a.vt() == VT_BOOL) && (IsIntegerType(b.vt()) || b.vt() == VT_BOOL);
  if (ints) {
    if ((a.vt() == VT_UI8) != (b.vt() == VT_UI8)) {
      const Variant& u = a.vt() == VT_UI8 ? a : b;
      const Variant& s = a.vt() == VT_UI8 ? b : a;
      return s.RawInt() >= 0 && static_cast<std::uint64_t>(s.RawInt()) == u.RawUInt();
    }
    return a.RawInt() == b.RawInt();
  }
  return AsDouble(a) == AsDouble(b);
}

}  // namespace tarvo
