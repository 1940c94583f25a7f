#include "tools/tarvoctl/CtlParse.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tarvo::ctl {

namespace {

constexpr DataTypeInfo kDataTypes[] = {
    {"i8", 16, 1}, {"u8", 17, 1}, {"i16", 2, 2}, {"u16", 18, 2},
    {"i32", 3, 4}, {"u32", 19, 4}, {"f32", 4, 4},
};

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Decimal with an optional '-', or 0x-hexadecimal; false when the text is not wholly a number
// that fits 64 bits.
bool ParseInteger(std::string_view text, std::int64_t& out) {
  const char* b = text.data();
  const char* e = b + text.size();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    b += 2;
    if (*b == '-' || *b == '+') return false;
  }
  if (b == e) return false;
  auto [p, ec] = std::from_chars(b, e, out, base);
  return ec == std::errc() && p == e;
}

std::pair<std::int64_t, std::int64_t> IntegerRange(std::int32_t code) {
  switch (code) {
    case 16: return {-128, 127};
    case 17: return {0, 255};
    case 2: return {-32768, 32767};
    case 18: return {0, 65535};
    case 3:
      return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    default: return {0, std::numeric_limits<std::uint32_t>::max()};
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two digits of a time field, exactly.
bool Digits(std::string_view text, std::size_t pos, std::size_t n, int& out) {
  if (pos + n > text.size()) return false;
  out = 0;
  for (std::size_t k = pos; k < pos + n; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    out = out * 10 + (text[k] - '0');
  }
  return true;
}

}  // namespace

std::int64_t ReadInt(std::string_view option, std::string_view text, std::int64_t lo,
                     std::int64_t hi) {
  std::int64_t v = 0;
  if (!ParseInteger(text, v) || v < lo || v > hi)
    throw CtlUsageError(std::string(option) + " wants an integer in " + std::to_string(lo) + ".." +
                        std::to_string(hi) + ", not " + Quoted(text));
  return v;
}

const DataTypeInfo* FindDataType(std::int32_t code) {
  for (const DataTypeInfo& t : kDataTypes)
    if (t.code == code) return &t;
  return nullptr;
}

std::vector<std::string> SplitList(std::string_view option, std::string_view text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t comma = text.find(',', pos);
    std::string_view item = text.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty())
      throw CtlUsageError(std::string(option) + " has an empty item in " + Quoted(text));
    out.emplace_back(item);
    if (comma == std::string_view::npos) return out;
    pos = comma + 1;
  }
}

std::vector<std::int32_t> ReadDataTypes(std::string_view option, std::string_view text) {
  std::vector<std::int32_t> codes;
  for (const std::string& name : SplitList(option, text)) {
    const DataTypeInfo* found = nullptr;
    for (const DataTypeInfo& t : kDataTypes)
      if (name == t.name) found = &t;
    if (!found)
      throw CtlUsageError(std::string(option) +
                          " wants i8, u8, i16, u16, i32, u32 or f32 (a comma list for a record), "
                          "not " + Quoted(name));
    codes.push_back(found->code);
  }
  return codes;
}

int DataTypesSize(const std::vector<std::int32_t>& codes, bool adjustToWord) {
  int size = 0;
  for (std::int32_t c : codes) {
    const DataTypeInfo* t = FindDataType(c);
    if (t) size += t->size == 1 && adjustToWord ? 2 : t->size;
  }
  return size;
}

std::string DataTypesText(const std::vector<std::int32_t>& codes) {
  std::string s;
  for (std::int32_t c : codes) {
    if (!s.empty()) s += ',';
    const DataTypeInfo* t = FindDataType(c);
    s += t ? t->name : std::to_string(c);
  }
  return s;
}

Variant ReadRegisterValue(std::string_view option, std::string_view text, std::int32_t code) {
  const DataTypeInfo* type = FindDataType(code);
  const std::string name = type ? type->name : std::to_string(code);
  if (code == 4) {
    double d = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (text.empty() || ec != std::errc() || p != text.data() + text.size())
      throw CtlUsageError(std::string(option) + ": " + Quoted(text) + " is not a number");
    if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
      throw CtlUsageError(std::string(option) + ": " + Quoted(text) + " does not fit f32");
    return Variant(static_cast<float>(d));
  }
  std::int64_t v = 0;
  if (!ParseInteger(text, v))
    throw CtlUsageError(std::string(option) + ": " + Quoted(text) + " is not an integer");
  const auto [lo, hi] = IntegerRange(code);
  if (v < lo || v > hi)
    throw CtlUsageError(std::string(option) + ": " + Quoted(text) + " does not fit " + name + " (" +
                        std::to_string(lo) + ".." + std::to_string(hi) + ")");
  return Variant::FromInt(static_cast<VarType>(code), v);
}

bool ReadCoilValue(std::string_view option, std::string_view text) {
  if (text == "1" || text == "true" || text == "on") return true;
  if (text == "0" || text == "false" || text == "off") return false;
  throw CtlUsageError(std::string(option) + ": " + Quoted(text) +
                      " is not a coil value (1, 0, true, false, on, off)");
}

std::vector<std::uint8_t> ReadHexBytes(std::string_view option, std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == ':') {
      if (high >= 0) break;  // a lone digit before a separator
      continue;
    }
    const int d = HexDigit(c);
    if (d < 0) {
      high = -2;
      break;
    }
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high != -1)
    throw CtlUsageError(std::string(option) + ": " + Quoted(text) +
                        " is not hexadecimal bytes (such as \"01 0A FF\")");
  return out;
}

DateTimeParts ReadTime(std::string_view option, std::string_view text) {
  DateTimeParts p;
  const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' &&
                      (text[10] == ' ' || text[10] == 'T') && text[13] == ':' && text[16] == ':';
  const bool ok = shaped && Digits(text, 0, 4, p.year) && Digits(text, 5, 2, p.month) &&
                  Digits(text, 8, 2, p.day) && Digits(text, 11, 2, p.hour) &&
                  Digits(text, 14, 2, p.minute) && Digits(text, 17, 2, p.second);
  const bool inRange = ok && p.year >= 100 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
                       p.day <= 31 && p.hour <= 23 && p.minute <= 59 && p.second <= 59;
  // The calendar check: a day that does not exist (02-30) comes back as another date.
  int y = 0, m = 0, d = 0;
  if (inRange) CivilFromDays(DaysFromCivil(p.year, p.month, p.day), y, m, d);
  if (!inRange || y != p.year || m != p.month || d != p.day)
    throw CtlUsageError(std::string(option) + " wants \"YYYY-MM-DD hh:mm:ss\", not " +
                        Quoted(text));
  return p;
}

}  // namespace tarvo::ctl
