#include "viewer/model/StdFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace tarvo {
namespace {

constexpr int kDigits = 18;  // decimal digits the float conversion works from

bool IsIntegerVt(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: return true;
    default: return false;
  }
}

bool IsWideVt(VarType vt) { return vt == VT_I8 || vt == VT_UI8; }

// A finite non-negative value as 0.d1d2...d18 × 10^exp.
struct Decimal {
  std::string digits;  // kDigits characters, or fewer after rounding
  int exp = 0;
};

Decimal ToDecimal(double v) {
  Decimal d;
  if (v == 0) {
    d.digits.assign(kDigits, '0');
    d.exp = 1;
    return d;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", kDigits - 1, v);  // d.ddd...e±xx, correctly rounded
  d.digits.push_back(buf[0]);
  const char* p = buf + 2;
  while (*p != 'e') d.digits.push_back(*p++);
  d.exp = std::atoi(p + 1) + 1;
  return d;
}

// Keeps the first keep digits, rounding half away from zero; keep may be 0 or less.
void RoundTo(Decimal& d, int keep) {
  if (keep >= static_cast<int>(d.digits.size())) {
    d.digits.resize(keep, '0');
    return;
  }
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (!up) return;
  int i = keep - 1;
  while (i >= 0 && d.digits[i] == '9') d.digits[i--] = '0';
  if (i >= 0) {
    ++d.digits[i];
  } else {
    d.digits.insert(d.digits.begin(), '1');
    d.digits.pop_back();
    ++d.exp;
    if (keep == 0) d.digits = "1";
  }
}

bool AllZero(const std::string& s) { return s.find_first_not_of('0') == std::string::npos; }

std::string NonFinite(double v) {
  if (std::isnan(v)) return "NAN";
  return v < 0 ? "-INF" : "INF";
}

std::string Fixed(double v, int decimals) {
  if (!std::isfinite(v)) return NonFinite(v);
  Decimal d = ToDecimal(std::fabs(v));
  const int before = d.exp;
  RoundTo(d, d.exp + decimals);
  if (d.exp != before) d.digits.resize(std::max(0, d.exp + decimals), '0');
  // Digit k of the value has the weight 10^(exp-1-k).
  auto digit = [&](int k) { return k >= 0 && k < static_cast<int>(d.digits.size()) ? d.digits[k] : '0'; };
  std::string out;
  if (d.exp <= 0) out = "0";
  for (int k = 0; k < d.exp; ++k) out.push_back(digit(k));
  if (decimals > 0) {
    out.push_back('.');
    for (int k = 0; k < decimals; ++k) out.push_back(digit(d.exp + k));
  }
  if (v < 0 && !AllZero(d.digits)) out.insert(out.begin(), '-');
  return out;
}

std::string Exponent(double v, int precision) {
  if (!std::isfinite(v)) return NonFinite(v);
  Decimal d = ToDecimal(std::fabs(v));
  RoundTo(d, precision);
  const bool zero = AllZero(d.digits);
  std::string out;
  if (v < 0 && !zero) out = "-";
  out.push_back(d.digits[0]);
  if (precision > 1) {
    out.push_back('.');
    out.append(d.digits, 1, std::string::npos);
  }
  const int e = zero ? 0 : d.exp - 1;
  char buf[16];
  std::snprintf(buf, sizeof buf, "E%c%03d", e < 0 ? '-' : '+', std::abs(e));
  return out + buf;
}

std::size_t CodePoints(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Hex(std::uint64_t u, bool wide) {
  if (!wide) u &= 0xFFFFFFFFu;
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(u));
  return buf;
}

std::string Conversion(char type, int precision, const Variant& arg) {
  const VarType vt = arg.vt();
  switch (type) {
    case 'd':
    case 'u':
    case 'x': {
      if (!IsIntegerVt(vt)) break;
      std::string digits;
      bool negative = false;
      if (type == 'x') {
        digits = Hex(arg.RawUInt(), IsWideVt(vt));
      } else if (type == 'u') {
        std::uint64_t u = arg.RawUInt();
        if (!IsWideVt(vt)) u &= 0xFFFFFFFFu;
        digits = std::to_string(u);
      } else if (vt == VT_UI8) {
        digits = std::to_string(arg.RawUInt());
      } else {
        const std::int64_t i = arg.RawInt();
        negative = i < 0;
        digits = std::to_string(i);
        if (negative) digits.erase(0, 1);
      }
      if (precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
      return negative ? "-" + digits : digits;
    }
    case 'f':
    case 'e': {
      if (vt != VT_R4 && vt != VT_R8) break;
      const double v = arg.RawReal();
      if (type == 'f') return Fixed(v, precision < 0 ? 2 : std::min(precision, kDigits));
      return Exponent(v, precision < 0 ? 15 : std::clamp(precision, 1, kDigits));
    }
    case 's': {
      if (vt != VT_BSTR) break;
      std::string s = arg.RawString();
      if (precision >= 0 && CodePoints(s) > static_cast<std::size_t>(precision)) {
        std::size_t n = 0, k = 0;
        for (; k < s.size(); ++k) {
          if ((static_cast<unsigned char>(s[k]) & 0xC0) != 0x80 && n++ == static_cast<std::size_t>(precision)) break;
        }
        s.resize(k);
      }
      return s;
    }
    default: break;
  }
  throw EFormatError(std::string("Format '%") + type + "' invalid or incompatible with argument");
}

}  // namespace

std::string StdFormat(std::string_view format, const std::vector<Variant>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out.push_back(format[i]);
      continue;
    }
    if (++i < format.size() && format[i] == '%') {
      out.push_back('%');
      continue;
    }
    bool left = false;
    if (i < format.size() && format[i] == '-') left = true, ++i;
    int width = 0, precision = -1;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9' && width < 1000)
      width = width * 10 + (format[i++] - '0');
    if (i < format.size() && format[i] == '.') {
      precision = 0;
      while (++i < format.size() && format[i] >= '0' && format[i] <= '9' && precision < 1000)
        precision = precision * 10 + (format[i] - '0');
    }
    if (i >= format.size()) throw EFormatError("Format '" + std::string(format) + "' invalid");
    const char type = static_cast<char>(format[i] | 0x20);  // types are case-blind
    if (next >= args.size())
      throw EFormatError("Format '" + std::string(format) + "' has too few arguments");
    std::string field = Conversion(type, precision, args[next++]);
    const std::size_t len = CodePoints(field);
    if (static_cast<std::size_t>(width) > len) {
      const std::string pad(static_cast<std::size_t>(width) - len, ' ');
      field = left ? field + pad : pad + field;
    }
    out += field;
  }
  return out;
}

std::string FormatOfCode(int code) {
  static constexpr const char* kCalendar[] = {"dd/mm/yy hh:nn:ss", "mm/dd/yy hh:nn:ss", "dd/mm/yyyy",
                                              "mm/dd/yyyy", "dd/mm/yy", "mm/dd/yy", "hh:nn:ss",
                                              "yyyy", "mm", "dd", "hh", "nn", "ss"};
  if (code >= 0 && code <= 8) return "%" + std::to_string(code + 1) + ".0f";
  if (code == 9) return "%.0f";
  if (code >= 10 && code <= 18) return "%." + std::to_string(code - 9) + "f";
  if (code == 19) return "%f";
  if (code >= 20 && code <= 28) return "%." + std::to_string(code - 19) + "e";
  if (code == 29) return "%e";
  if (code == 30) return "$%x";
  if (code == 31) return "0x%x";
  if (code >= 32 && code <= 44) return kCalendar[code - 32];
  if (code == 45) return "%d  %d:%d:%d";
  if (code == 46) return "%d:%d:%d";
  return {};
}

std::string FormatCalendar(std::string_view pattern, const DateTimeParts& p) {
  std::string out;
  char buf[16];
  for (std::size_t i = 0; i < pattern.size();) {
    const char c = static_cast<char>(pattern[i] | 0x20);
    std::size_t run = 1;
    while (i + run < pattern.size() && static_cast<char>(pattern[i + run] | 0x20) == c) ++run;
    int value = -1, width = 2;
    switch (c) {
      case 'y':
        value = run >= 3 ? p.year : p.year % 100;
        width = run >= 3 ? 4 : 2;
        break;
      case 'm': value = p.month; break;
      case 'd': value = p.day; break;
      case 'h': value = p.hour; break;
      case 'n': value = p.minute; break;
      case 's': value = p.second; break;
      default: break;
    }
    if (value < 0) {
      out.push_back(pattern[i++]);
      continue;
    }
    if (run == 1 && c != 'y') width = 1;
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
    i += run;
  }
  return out;
}

DateTimeParts DeviceSecondsToParts(std::uint32_t seconds) {
  DateTimeParts p;
  CivilFromDays(seconds / 86400, p.year, p.month, p.day);
  const std::uint32_t rest = seconds % 86400;
  p.hour = static_cast<int>(rest / 3600);
  p.minute = static_cast<int>(rest / 60 % 60);
  p.second = static_cast<int>(rest % 60);
  return p;
}

}  // namespace tarvo
