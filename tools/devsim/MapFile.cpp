#include "tools/devsim/MapFile.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/text/Text.h"

namespace tarvo::devsim {

const char* const kDefaultMapText =
    "hr 0..9 1+\n"
    "hr 10..99 0\n"
    "hr 100..199 100+ ro\n"
    "ir 0 ramp\n"
    "ir 1 sine\n"
    "ir 2..199 2+\n"
    "coil 0..63 0\n"
    "di 0..31 1\n"
    "di 32..63 0\n"
    "name Tarvo DevSim\n"
    "status 0x6D\n"
    "archive 0 fields u32time,u16,u16 records 48 step 3600\n"
    "archive 1 fields u32time,u16,u16 records 48 step 86400\n";

const char* const kMapFormatHelp =
    "Map file: one item a line; '#' starts a comment; later lines replace earlier points.\n"
    "  defaults                           the built-in map (below), then the lines that follow\n"
    "  hr   A[..B] VALUE [ro]             holding registers A..B, writable unless 'ro'\n"
    "  ir   A[..B] VALUE                  input registers\n"
    "  coil A[..B] 0|1 [ro]               coils, writable unless 'ro'\n"
    "  di   A[..B] 0|1                    discrete inputs\n"
    "  name TEXT                          device name (UTF-8, sent in code page 1251)\n"
    "  status BYTE                        exception status byte (function 7)\n"
    "  archive N fields F,F,.. records R step S\n"
    "                                     archive N: R records S seconds apart, the newest at\n"
    "                                     the current time rounded down to S (UTC); index 0 is\n"
    "                                     the oldest. F: u32time (record time, Unix seconds),\n"
    "                                     u16, i16, u32, i32, f32 (values follow the record)\n"
    "  Addresses and numbers: decimal or 0x hex. VALUE: a number (-32768..65535); N+ counts up\n"
    "  from N along the range; 'ramp' (seconds since start) or 'sine' (0..2000, one period a\n"
    "  minute), both read-only.\n";

namespace {

std::string Trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

std::vector<std::string> Words(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

// A whole word as a number; nullopt on anything else.
std::optional<long long> Number(std::string_view w) {
  bool neg = !w.empty() && w[0] == '-';
  if (neg) w.remove_prefix(1);
  int base = 10;
  if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
    base = 16;
    w.remove_prefix(2);
  }
  long long v = 0;
  auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v, base);
  if (w.empty() || ec != std::errc() || p != w.data() + w.size()) return std::nullopt;
  return neg ? -v : v;
}

long long NumberIn(const std::string& w, long long lo, long long hi, const char* what) {
  auto v = Number(w);
  if (!v || *v < lo || *v > hi)
    throw MapError(std::string(what) + " '" + w + "' is not a number in " + std::to_string(lo) +
                   ".." + std::to_string(hi));
  return *v;
}

std::pair<int, int> Range(const std::string& w) {
  std::size_t dots = w.find("..");
  if (dots == std::string::npos) {
    int a = static_cast<int>(NumberIn(w, 0, 65535, "address"));
    return {a, a};
  }
  int a = static_cast<int>(NumberIn(w.substr(0, dots), 0, 65535, "address"));
  int b = static_cast<int>(NumberIn(w.substr(dots + 2), 0, 65535, "address"));
  if (b < a) throw MapError("range '" + w + "' ends before it starts");
  return {a, b};
}

void ParsePoints(Table table, const std::vector<std::string>& w, DeviceMap& map) {
  bool bits = table == Table::kCoil || table == Table::kDiscreteInput;
  bool canWrite = table == Table::kCoil || table == Table::kHolding;
  std::size_t n = w.size();
  bool ro = n == 4 && w[3] == "ro";
  if (n < 3 || n > 4 || (n == 4 && !(ro && canWrite)))
    throw MapError("expected '" + w[0] + " ADDRESS[..LAST] VALUE" + (canWrite ? " [ro]'" : "'"));
  auto [first, last] = Range(w[1]);
  Point p;
  p.writable = canWrite && !ro;
  bool counting = false;
  const std::string& v = w[2];
  if (!bits && (v == "ramp" || v == "sine")) {
    p.kind = v == "ramp" ? PointKind::kRamp : PointKind::kSine;
    p.writable = false;
  } else if (bits) {
    p.value = static_cast<std::uint16_t>(NumberIn(v, 0, 1, "bit value"));
  } else {
    counting = v.size() > 1 && v.back() == '+';
    p.value = static_cast<std::uint16_t>(
        NumberIn(counting ? v.substr(0, v.size() - 1) : v, -32768, 65535, "register value"));
  }
  for (int a = first; a <= last; ++a) {
    map.Set(table, static_cast<std::uint16_t>(a), p);
    if (counting) ++p.value;
  }
}

void ParseArchive(const std::vector<std::string>& w, DeviceMap& map) {
  if (w.size() != 8 || w[2] != "fields" || w[4] != "records" || w[6] != "step")
    throw MapError("expected 'archive N fields F,F,... records R step SECONDS'");
  auto num = static_cast<std::uint16_t>(NumberIn(w[1], 0, 65535, "archive number"));
  std::vector<FieldType> fields;
  std::istringstream in(w[3]);
  std::string f;
  while (std::getline(in, f, ',')) {
    auto t = Archive::ParseField(f);
    if (!t) throw MapError("unknown field type '" + f + "' (u32time u16 i16 u32 i32 f32)");
    fields.push_back(*t);
  }
  if (fields.empty()) throw MapError("an archive needs at least one field");
  int records = static_cast<int>(NumberIn(w[5], 1, 65536, "record count"));
  std::int64_t step = NumberIn(w[7], 1, 100LL * 366 * 86400, "step");
  map.archives.insert_or_assign(num, Archive(std::move(fields), records, step));
}

void ParseLine(const std::string& line, DeviceMap& map) {
  std::vector<std::string> w = Words(line);
  const std::string& key = w[0];
  if (key == "defaults" && w.size() == 1) {
    ParseMap(kDefaultMapText, map);
  } else if (key == "hr") {
    ParsePoints(Table::kHolding, w, map);
  } else if (key == "ir") {
    ParsePoints(Table::kInput, w, map);
  } else if (key == "coil") {
    ParsePoints(Table::kCoil, w, map);
  } else if (key == "di") {
    ParsePoints(Table::kDiscreteInput, w, map);
  } else if (key == "name") {
    std::string name = Trim(line.substr(line.find("name") + 4));
    if (name.empty()) throw MapError("expected 'name TEXT'");
    map.name1251 = Utf8ToCp1251(name);
    if (map.name1251.size() > 250) throw MapError("name longer than 250 bytes");
  } else if (key == "status") {
    if (w.size() != 2) throw MapError("expected 'status BYTE'");
    map.status = static_cast<std::uint8_t>(NumberIn(w[1], 0, 255, "status"));
  } else if (key == "archive") {
    ParseArchive(w, map);
  } else {
    throw MapError("unknown item '" + key + "'");
  }
}

}  // namespace

void ParseMap(std::string_view text, DeviceMap& map) {
  std::istringstream in{std::string(text)};
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    std::string line = Trim(raw.substr(0, raw.find('#')));
    if (line.empty()) continue;
    try {
      ParseLine(line, map);
    } catch (const MapError& e) {
      throw MapError("line " + std::to_string(number) + ": " + e.what());
    }
  }
}

DeviceMap LoadMapFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw MapError(path + ": cannot be read");
  std::ostringstream text;
  text << file.rdbuf();
  DeviceMap map;
  try {
    ParseMap(text.str(), map);
  } catch (const MapError& e) {
    throw MapError(path + ": " + e.what());
  }
  return map;
}

DeviceMap DefaultMap() {
  DeviceMap map;
  ParseMap(kDefaultMapText, map);
  return map;
}

}  // namespace tarvo::devsim
