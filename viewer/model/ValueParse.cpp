#include "viewer/model/ValueParse.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include "viewer/model/ValueConv.h"

namespace tarvo {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Digit limit of a hexadecimal (bitsPerDigit 4) or binary (1) text for the type; 0 refuses it.
std::size_t DigitLimit(VarType type, int bitsPerDigit) {
  switch (type) {
    case VT_I2: case VT_UI2: return 16 / bitsPerDigit;
    case VT_I4: case VT_R4: case VT_UI4: return 32 / bitsPerDigit;
    case VT_I1: case VT_UI1: return 8 / bitsPerDigit;
    default: return 0;
  }
}

// An integer as the type, refused outside the type's range; floats take the number's value.
bool FitInteger(std::int64_t n, VarType type, Variant& value) {
  auto in = [n](std::int64_t lo, std::int64_t hi) { return n >= lo && n <= hi; };
  switch (type) {
    case VT_I1: if (!in(-128, 127)) return false; value = Variant(static_cast<std::int8_t>(n)); return true;
    case VT_UI1: if (!in(0, 255)) return false; value = Variant(static_cast<std::uint8_t>(n)); return true;
    case VT_I2: if (!in(-32768, 32767)) return false; value = Variant(static_cast<std::int16_t>(n)); return true;
    case VT_UI2: if (!in(0, 65535)) return false; value = Variant(static_cast<std::uint16_t>(n)); return true;
    case VT_I4:
      if (!in(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max())) return false;
      value = Variant(static_cast<std::int32_t>(n));
      return true;
    case VT_UI4: if (!in(0, 4294967295LL)) return false; value = Variant(static_cast<std::uint32_t>(n)); return true;
    case VT_I8: value = Variant(n); return true;
    case VT_R4: value = Variant(static_cast<float>(n)); return true;
    case VT_R8: value = Variant(static_cast<double>(n)); return true;
    default: return false;
  }
}

bool ParseRadix(std::string_view digits, VarType type, int bitsPerDigit, Variant& value) {
  const std::size_t limit = DigitLimit(type, bitsPerDigit);
  if (digits.empty() || digits.size() > limit) return false;
  std::uint32_t n = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    if (d >> bitsPerDigit) return false;
    n = (n << bitsPerDigit) | static_cast<std::uint32_t>(d);
  }
  return FitInteger(n, type, value);
}

bool ParseInt64(std::string_view s, std::int64_t& n) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  return ec == std::errc() && end == s.data() + s.size();
}

// The field letters of a calendar format in order (separators dropped).
std::vector<char> FieldsOf(std::string_view format) {
  std::vector<char> fields;
  for (std::size_t i = 0; i < format.size();) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
    std::size_t run = 1;
    while (i + run < format.size() && std::tolower(static_cast<unsigned char>(format[i + run])) == c) ++run;
    if (c == 'y' || c == 'm' || c == 'd' || c == 'h' || c == 'n' || c == 's') fields.push_back(c);
    i += run;
  }
  return fields;
}

bool ReadNumber(std::string_view s, std::size_t& pos, std::size_t maxDigits, int& n, std::size_t& digits) {
  n = 0;
  digits = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    if (++digits > maxDigits) return false;
    n = n * 10 + (s[pos++] - '0');
  }
  return digits > 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

TextMode ModeOfText(std::string_view s, bool allowDate, std::string_view& digits) {
  digits = s;
  if (!s.empty() && s.front() == '$') return digits.remove_prefix(1), TextMode::Hex;
  if (s.size() >= 2 && s.substr(0, 2) == "0x") return digits.remove_prefix(2), TextMode::Hex;
  if (!s.empty() && s.back() == 'h') return digits.remove_suffix(1), TextMode::Hex;
  if (!s.empty() && s.back() == 'b') return digits.remove_suffix(1), TextMode::Bin;
  if (allowDate && !s.empty() && s.front() == 'd') return digits.remove_prefix(1), TextMode::Date;
  return TextMode::Decimal;
}

bool ParseHexDigits(std::string_view digits, VarType type, Variant& value) {
  return ParseRadix(digits, type, 4, value);
}

bool ParseBinDigits(std::string_view digits, VarType type, Variant& value) {
  return ParseRadix(digits, type, 1, value);
}

bool ParseDecimal(std::string_view text, VarType type, Variant& value) {
  try {
    if (type == VT_R4 || type == VT_R8) {
      const double d = StrToFloatAny(text);
      if (type == VT_R8) {
        value = Variant(d);
        return true;
      }
      if (std::fabs(d) > std::numeric_limits<float>::max()) return false;
      value = Variant(static_cast<float>(d));
      return true;
    }
  } catch (const std::exception&) {
    return false;
  }
  std::int64_t n = 0;
  return ParseInt64(Trim(text), n) && FitInteger(n, type, value);
}

bool ParseCalendarText(std::string_view text, std::string_view dateFormat,
                       std::string_view timeFormat, DateTimeParts& parts) {
  const std::string_view s = Trim(text);
  const std::vector<char> dateFields = FieldsOf(dateFormat);
  const std::vector<char> timeFields = FieldsOf(timeFormat);
  DateTimeParts p{1970, 1, 1, 0, 0, 0, 0};
  std::size_t pos = 0, yearDigits = 4;
  auto store = [&](char f, int n) {
    switch (f) {
      case 'y': p.year = n; break;
      case 'm': p.month = n; break;
      case 'd': p.day = n; break;
      case 'h': p.hour = n; break;
      case 'n': p.minute = n; break;
      case 's': p.second = n; break;
      default: break;
    }
  };
  for (std::size_t i = 0; i < dateFields.size(); ++i) {
    if (i > 0 && (pos >= s.size() || s[pos++] != '/')) return false;
    int n;
    std::size_t digits;
    if (!ReadNumber(s, pos, 4, n, digits)) return false;
    if (dateFields[i] == 'y') yearDigits = digits;
    store(dateFields[i], n);
  }
  bool timeWanted = !timeFields.empty();
  if (!dateFields.empty() && timeWanted) {
    // After a date the time is optional and follows blanks.
    if (pos == s.size()) {
      timeWanted = false;
    } else {
      if (s[pos] != ' ') return false;
      while (pos < s.size() && s[pos] == ' ') ++pos;
    }
  }
  if (timeWanted) {
    for (std::size_t i = 0; i < timeFields.size(); ++i) {
      if (i > 0) {
        if (pos >= s.size() || s[pos] != ':') break;
        ++pos;
      }
      int n;
      std::size_t digits;
      if (!ReadNumber(s, pos, 2, n, digits)) return false;
      store(timeFields[i], n);
    }
  }
  if (pos != s.size()) return false;
  if (yearDigits <= 2) p.year += p.year < 70 ? 2000 : 1900;
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month) || p.hour > 23 || p.minute > 59 || p.second > 59)
    return false;
  parts = p;
  return true;
}

bool ParseDeviceSeconds(std::string_view text, std::string_view dateFormat,
                        std::string_view timeFormat, std::uint32_t& seconds) {
  DateTimeParts p;
  if (!ParseCalendarText(text, dateFormat, timeFormat, p)) return false;
  const std::int64_t days = DaysFromCivil(p.year, p.month, p.day);
  const std::int64_t total = days * 86400 + (p.hour * 60 + p.minute) * 60 + p.second;
  // A date the time stamp cannot hold is refused rather than stored as 0.
  if (total < 0 || total > 4294967295LL) return false;
  seconds = static_cast<std::uint32_t>(total);
  return true;
}

bool CalendarEntryFormats(int code, std::string& dateFormat, std::string& timeFormat) {
  static constexpr const char* kDate[] = {"dd/mm/yy", "mm/dd/yy", "dd/mm/yyyy", "mm/dd/yyyy", "dd/mm/yy",
                                          "mm/dd/yy", "", "yyyy", "mm", "dd", "", "", ""};
  static constexpr const char* kTime[] = {"hh:nn:ss", "hh:nn:ss", "hh:nn:ss", "hh:nn:ss", "hh:nn:ss",
                                          "hh:nn:ss", "hh:nn:ss", "", "", "", "hh", "nn", "ss"};
  if (code < 32 || code > 44) return false;
  dateFormat = kDate[code - 32];
  timeFormat = kTime[code - 32];
  return true;
}

bool ParseDuration(std::string_view text, int fields, VarType type, Variant& value) {
  if (type == VT_R4 || type == VT_R8 || text.empty()) return false;
  static constexpr std::int64_t kWeights[] = {86400, 3600, 60, 1};
  const std::int64_t* weight = kWeights + (4 - fields);
  std::int64_t total = 0, field = 0;
  int index = 0;
  std::size_t digits = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ':') {
      if (digits == 0 || index >= fields) return false;
      total += field * weight[index++];
      field = 0;
      digits = 0;
    } else if (text[i] >= '0' && text[i] <= '9') {
      if (++digits > 9) return false;  // keeps the sum far from overflow
      field = field * 10 + (text[i] - '0');
    } else {
      return false;
    }
  }
  try {
    value = CastValue(Variant(total), type);
  } catch (const std::exception&) {
    return false;
  }
  return !value.IsEmpty();
}

bool StrToValue(std::string_view text, VarType type, Variant& value) {
  if (text.empty()) return false;
  try {
    const std::string s = Lower(text);
    if (type == VT_BOOL) {
      if (s == "1" || s == "true") return value = Variant(true), true;
      if (s == "0" || s == "false") return value = Variant(false), true;
      return false;
    }
    std::string_view digits;
    switch (ModeOfText(s, true, digits)) {
      case TextMode::Hex: return ParseHexDigits(digits, type, value);
      case TextMode::Bin: return ParseBinDigits(digits, type, value);
      case TextMode::Date: {
        std::uint32_t seconds = 0;
        if (type != VT_UI4 || !ParseDeviceSeconds(digits, kSystemDateFormat, kSystemTimeFormat, seconds))
          return false;
        value = Variant(seconds);
        return true;
      }
      case TextMode::Decimal: return s != "x" && ParseDecimal(s, type, value);
    }
  } catch (const std::exception&) {
  }
  return false;
}

}  // namespace tarvo
