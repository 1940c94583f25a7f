#include "tools/tarvoctl/CtlOptions.h"

#include <algorithm>
#include <limits>
#include <map>

#include "server/modbus/ModbusRequest.h"

namespace tarvo::ctl {

namespace {

// What an option does on the command line; options of one group exclude each other where the
// group says so (one link, one request).
enum class Group { Help, Link, LinkSetting, Master, Request, RequestField, Run };

struct OptionSpec {
  const char* name;
  bool takesValue;
  Group group;
};

constexpr OptionSpec kOptions[] = {
    {"--help", false, Group::Help},
    {"--rs232", true, Group::Link},
    {"--rs485", true, Group::Link},
    {"--baud", true, Group::LinkSetting},
    {"--flow", true, Group::LinkSetting},
    {"--answer-delay", true, Group::LinkSetting},
    {"--byte-timeout", true, Group::LinkSetting},
    {"--link-attempts", true, Group::LinkSetting},
    {"--addr", true, Group::Master},
    {"--ascii", false, Group::Master},
    {"--parity", true, Group::Master},
    {"--retries", true, Group::Master},
    {"--adjust-to-word", false, Group::Master},
    {"--optimal", false, Group::Master},
    {"--read-holding", true, Group::Request},
    {"--read-input", true, Group::Request},
    {"--write-holding", true, Group::Request},
    {"--read-coils", true, Group::Request},
    {"--read-discrete", true, Group::Request},
    {"--write-coils", true, Group::Request},
    {"--status", false, Group::Request},
    {"--diag", true, Group::Request},
    {"--dev-name", false, Group::Request},
    {"--arch-time", true, Group::Request},
    {"--arch-time2", true, Group::Request},
    {"--arch-index", true, Group::Request},
    {"--raw", true, Group::Request},
    {"--count", true, Group::RequestField},
    {"--type", true, Group::RequestField},
    {"--values", true, Group::RequestField},
    {"--data", true, Group::RequestField},
    {"--time", true, Group::RequestField},
    {"--arch-type", true, Group::RequestField},
    {"--time-field", true, Group::RequestField},
    {"--index", true, Group::RequestField},
    {"--bytes", true, Group::RequestField},
    {"--period", true, Group::Run},
    {"--count-replies", true, Group::Run},
    {"--timeout", true, Group::Run},
    {"--qid", true, Group::Run},
    {"--json", false, Group::Run},
};

// One request option: its call type, the largest value of its argument (-1: no argument), the
// fields that go with it and those it cannot do without.
struct RequestSpec {
  const char* name;
  TModBusCallType call;
  std::int64_t argMax;
  std::vector<std::string_view> fields;
  std::vector<std::string_view> required;
};

const std::vector<RequestSpec>& Requests() {
  static const std::vector<RequestSpec> kRequests = {
      {"--read-holding", mbReadHoldRegs, 0xFFFF, {"--count", "--type"}, {}},
      {"--read-input", mbReadInputRegs, 0xFFFF, {"--count", "--type"}, {}},
      {"--write-holding", mbWriteHoldRegs, 0xFFFF, {"--values", "--type"}, {"--values"}},
      {"--read-coils", mbReadHoldCoils, 0xFFFF, {"--count"}, {}},
      {"--read-discrete", mbReadInputCoils, 0xFFFF, {"--count"}, {}},
      {"--write-coils", mbWriteHoldCoils, 0xFFFF, {"--values"}, {"--values"}},
      {"--status", mbReadStatus, -1, {}, {}},
      {"--diag", mbDiagnostics, 0xFFFF, {"--data"}, {}},
      {"--dev-name", mbGetDevName, -1, {}, {}},
      {"--arch-time", mbReadTimeArch, 0xFFFF, {"--count", "--time", "--type"},
       {"--time", "--type"}},
      {"--arch-time2", mbReadTimeArch2, 0xFFFF,
       {"--count", "--time", "--type", "--arch-type", "--time-field"}, {"--time", "--type"}},
      {"--arch-index", mbReadIndexArch, 0xFFFF, {"--count", "--index", "--type"},
       {"--index", "--type"}},
      {"--raw", mbExchange, 0xFF, {"--bytes"}, {}},
  };
  return kRequests;
}

// The server's limit on the data bytes of one request.
constexpr int kMaxRequestBytes = 255;
// Coil reads: the byte count plus the odd-count marker must stay within the limit.
constexpr int kMaxReadCoils = 2032;
constexpr int kMaxWriteCoils = 2040;
// A ModBus PDU is at most 253 bytes: the function code and 252 bytes of data.
constexpr int kMaxExchangeBytes = 252;
constexpr std::int64_t kMaxTimeoutMs = 86400000;

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& o : kOptions)
    if (name == o.name) return &o;
  return nullptr;
}

// The options as given, in order, each once.
class Given {
 public:
  void Add(const OptionSpec& def, std::string value) {
    if (Has(def.name)) throw CtlUsageError(std::string(def.name) + " given twice");
    items_.emplace_back(def.name, std::move(value));
  }
  bool Has(std::string_view name) const { return Find(name) != nullptr; }
  const std::string& Value(std::string_view name) const { return *Find(name); }
  // The first option given of the group, or nullptr.
  const char* FirstOf(Group g) const {
    for (const auto& [name, value] : items_)
      if (FindOption(name)->group == g) return FindOption(name)->name;
    return nullptr;
  }
  const std::vector<std::pair<std::string, std::string>>& Items() const { return items_; }

 private:
  const std::string* Find(std::string_view name) const {
    for (const auto& [n, v] : items_)
      if (n == name) return &v;
    return nullptr;
  }
  std::vector<std::pair<std::string, std::string>> items_;
};

Given Collect(const std::vector<std::string>& args) {
  Given given;
  for (std::size_t k = 0; k < args.size(); ++k) {
    std::string name = args[k];
    std::string value;
    bool inlineValue = false;
    if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const OptionSpec* def = FindOption(name);
    if (!def) throw CtlUsageError("unknown option '" + name + "' (see --help)");
    if (def->takesValue && !inlineValue) {
      if (k + 1 >= args.size()) throw CtlUsageError(name + " needs a value");
      value = args[++k];
    } else if (!def->takesValue && inlineValue) {
      throw CtlUsageError(name + " takes no value");
    }
    if (def->group == Group::Link || def->group == Group::Request) {
      if (const char* first = given.FirstOf(def->group))
        throw CtlUsageError(name + ": only one " +
                            (def->group == Group::Link ? "link" : "request") + " at a time (" +
                            first + " was given)");
    }
    given.Add(*def, std::move(value));
  }
  return given;
}

template <typename T>
T Int(const Given& g, std::string_view name, std::int64_t lo, std::int64_t hi, T fallback) {
  return g.Has(name) ? static_cast<T>(ReadInt(name, g.Value(name), lo, hi)) : fallback;
}

bool IsComName(const std::string& s) {
  if (s.size() < 4 || s.size() > 6) return false;
  for (int i = 0; i < 3; ++i)
    if ((s[i] & ~0x20) != "COM"[i]) return false;
  if (s[3] == '0') return false;
  int n = 0;
  for (std::size_t i = 3; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    n = n * 10 + (s[i] - '0');
  }
  return n >= 1 && n <= 256;
}

void ReadSerialLink(const Given& g, const char* linkOption, CtlOptions& o) {
  SerialLinkOptions& s = o.serial;
  s.port = g.Value(linkOption);
  if (!IsComName(s.port) && !s.port.starts_with('/'))
    throw CtlUsageError(std::string(linkOption) +
                        " wants COMn or an absolute device path such as /dev/ttyUSB0, not '" +
                        s.port + "'");
  if (g.Has("--baud")) {
    const std::string& text = g.Value("--baud");
    s.speedIndex = -1;
    for (int k = ts1200; k <= ts115200; ++k)
      if (text == std::to_string(SpeedBitsPerSecond(k))) s.speedIndex = k;
    if (s.speedIndex < 0) {
      std::string rates;
      for (int k = ts1200; k <= ts115200; ++k) {
        rates += std::to_string(SpeedBitsPerSecond(k));
        if (k < ts57600) rates += ", ";
        else if (k == ts57600) rates += " or ";
      }
      throw CtlUsageError("--baud " + text + " is not a rate of the serial links; use " + rates);
    }
  }
  if (g.Has("--flow")) {
    if (o.link == LinkKind::RS485)
      throw CtlUsageError("--flow does not go with --rs485: RS-485 links have no flow control");
    const std::string& f = g.Value("--flow");
    if (f == "none") s.flowControl = cfcNone;
    else if (f == "hardware") s.flowControl = cfcHardware;
    else throw CtlUsageError("--flow wants none or hardware, not '" + f + "'");
  }
  s.answerDelayMs = Int(g, "--answer-delay", 1, kMaxPeriodMs, s.answerDelayMs);
  s.byteTimeoutMs = Int(g, "--byte-timeout", 0, kMaxPeriodMs, s.byteTimeoutMs);
  s.attempts = Int(g, "--link-attempts", 1, 100, s.attempts);
}

void ReadLink(const Given& g, CtlOptions& o) {
  const char* link = g.FirstOf(Group::Link);
  if (!link) throw CtlUsageError("no link: give --rs232 PORT or --rs485 PORT");
  const std::string_view name = link;
  if (name == "--rs232") o.link = LinkKind::RS232;
  else if (name == "--rs485") o.link = LinkKind::RS485;
  switch (o.link) {
    case LinkKind::RS232:
    case LinkKind::RS485:
      ReadSerialLink(g, link, o);
      break;
    case LinkKind::None:
      break;
  }
}

void ReadMaster(const Given& g, MasterOptions& m) {
  m.addr = Int(g, "--addr", 0, 255, m.addr);
  if (g.Has("--ascii")) m.mode = mmASCII;
  if (g.Has("--parity")) {
    const std::string& p = g.Value("--parity");
    if (p == "none") m.parity = mpNone;
    else if (p == "odd") m.parity = mpOdd;
    else if (p == "even") m.parity = mpEven;
    else throw CtlUsageError("--parity wants none, odd or even, not '" + p + "'");
  }
  m.retries = Int(g, "--retries", 1, 100, m.retries);
  m.adjustToWord = g.Has("--adjust-to-word");
  m.optimal = g.Has("--optimal");
}

[[noreturn]] void TooManyBytes(const std::string& what, int bytes) {
  throw CtlUsageError(what + " makes " + std::to_string(bytes) +
                      " bytes; a request carries at most " + std::to_string(kMaxRequestBytes));
}

Variant OneOrArray(std::vector<Variant> items) {
  if (items.size() == 1) return std::move(items.front());
  return Variant(SafeArray::Of(VT_VARIANT, std::move(items)));
}

void ReadRequestFields(const Given& g, const RequestSpec& def, const MasterOptions& m,
                       RequestOptions& r) {
  const bool adjust = m.adjustToWord;
  r.count = Int(g, "--count", 1, 0xFFFF, r.count);
  if (g.Has("--type")) r.dataType = ReadDataTypes("--type", g.Value("--type"));
  const int itemSize = DataTypesSize(r.dataType, adjust);
  switch (def.call) {
    case mbReadHoldRegs:
    case mbReadInputRegs:
      if (itemSize * r.count > kMaxRequestBytes)
        TooManyBytes("--count " + std::to_string(r.count) + " of " + DataTypesText(r.dataType),
                     itemSize * r.count);
      break;
    case mbWriteHoldRegs: {
      std::vector<Variant> values;
      const std::vector<std::string> texts = SplitList("--values", g.Value("--values"));
      if (texts.size() % r.dataType.size() != 0)
        throw CtlUsageError("--values: " + std::to_string(texts.size()) +
                            " values do not fill records of " + std::to_string(r.dataType.size()) +
                            " fields (" + DataTypesText(r.dataType) + ")");
      int bytes = 0;
      for (std::size_t k = 0; k < texts.size(); ++k) {
        const std::int32_t code = r.dataType[k % r.dataType.size()];
        values.push_back(ReadRegisterValue("--values", texts[k], code));
        bytes += DataTypesSize({code}, adjust);
      }
      if (bytes > kMaxRequestBytes) TooManyBytes("--values", bytes);
      r.value = OneOrArray(std::move(values));
      break;
    }
    case mbReadHoldCoils:
    case mbReadInputCoils:
      if (r.count > kMaxReadCoils)
        throw CtlUsageError("--count " + std::to_string(r.count) + ": a request reads at most " +
                            std::to_string(kMaxReadCoils) + " coils");
      break;
    case mbWriteHoldCoils: {
      std::vector<Variant> values;
      for (const std::string& t : SplitList("--values", g.Value("--values")))
        values.push_back(Variant(ReadCoilValue("--values", t)));
      if (values.size() > kMaxWriteCoils)
        throw CtlUsageError("--values: a request writes at most " + std::to_string(kMaxWriteCoils) +
                            " coils, not " + std::to_string(values.size()));
      r.value = OneOrArray(std::move(values));
      break;
    }
    case mbReadTimeArch:
    case mbReadTimeArch2:
    case mbReadIndexArch:
      if (itemSize > kMaxRequestBytes)
        TooManyBytes("--type: a record of " + std::to_string(r.dataType.size()) + " fields",
                     itemSize);
      if (g.Has("--time")) r.archTime = ReadTime("--time", g.Value("--time"));
      r.archIndex = Int(g, "--index", 0, 0xFFFF, r.archIndex);
      if (g.Has("--arch-type")) {
        static const char* const kTypes[] = {"hour", "day", "month", "second"};
        const std::string& t = g.Value("--arch-type");
        const auto* found = std::find(std::begin(kTypes), std::end(kTypes), t);
        if (found == std::end(kTypes))
          throw CtlUsageError("--arch-type wants hour, day, month or second, not '" + t + "'");
        r.archType = static_cast<std::uint8_t>(found - std::begin(kTypes));
      }
      if (g.Has("--time-field")) {
        r.timeField = static_cast<std::int32_t>(
            ReadInt("--time-field", g.Value("--time-field"), -1,
                    static_cast<std::int64_t>(r.dataType.size()) - 1));
      }
      break;
    case mbDiagnostics:
      r.diagData = Int(g, "--data", 0, 0xFFFF, r.diagData);
      break;
    case mbExchange:
      if (g.Has("--bytes")) r.bytes = ReadHexBytes("--bytes", g.Value("--bytes"));
      if (r.bytes.size() > kMaxExchangeBytes)
        throw CtlUsageError("--bytes: " + std::to_string(r.bytes.size()) +
                            " bytes are more than a ModBus frame carries (" +
                            std::to_string(kMaxExchangeBytes) + ")");
      break;
    default:
      break;
  }
}

void ReadRequestOptions(const Given& g, CtlOptions& o) {
  const char* name = g.FirstOf(Group::Request);
  if (!name) {
    std::string all;
    for (const RequestSpec& s : Requests()) all += std::string(all.empty() ? "" : ", ") + s.name;
    throw CtlUsageError("no request: give one of " + all);
  }
  const RequestSpec& def =
      *std::find_if(Requests().begin(), Requests().end(),
                    [&](const RequestSpec& s) { return std::string_view(s.name) == name; });
  for (const auto& [option, value] : g.Items()) {
    if (FindOption(option)->group != Group::RequestField) continue;
    if (std::find(def.fields.begin(), def.fields.end(), option) == def.fields.end())
      throw CtlUsageError(option + " does not go with " + def.name);
  }
  for (std::string_view need : def.required)
    if (!g.Has(need)) throw CtlUsageError(std::string(def.name) + " needs " + std::string(need));

  RequestOptions& r = o.request;
  r.call = def.call;
  if (def.argMax >= 0) {
    const auto arg = static_cast<std::uint16_t>(ReadInt(name, g.Value(name), 0, def.argMax));
    switch (def.call) {
      case mbExchange: r.funNum = static_cast<std::uint8_t>(arg); break;
      case mbDiagnostics: r.diagSubFunc = arg; break;
      case mbReadTimeArch: case mbReadTimeArch2: case mbReadIndexArch: r.archNum = arg; break;
      default: r.regAddr = arg; break;
    }
  }
  ReadRequestFields(g, def, o.master, r);
}

void ReadRun(const Given& g, CtlOptions& o) {
  if (g.Has("--period")) {
    if (!CallAllowsPeriod(o.request.call))
      throw CtlUsageError("--period does not go with " +
                          std::string(g.FirstOf(Group::Request)) +
                          ": it is always a one-shot request");
    o.periodMs = Int<std::uint32_t>(g, "--period", 1, kMaxPeriodMs, 0);
  }
  o.countReplies = o.periodMs > 0 ? 0 : 1;
  if (g.Has("--count-replies")) {
    o.countReplies = Int(g, "--count-replies", 0, std::numeric_limits<std::int32_t>::max(), 0);
    if (o.periodMs == 0 && o.countReplies != 1)
      throw CtlUsageError("--count-replies needs --period: a one-shot request has one reply");
  }
  o.timeoutMs = Int(g, "--timeout", 1, kMaxTimeoutMs,
                    static_cast<std::int32_t>(kDefaultTimeoutMs + o.periodMs));
  o.qid = Int(g, "--qid", std::numeric_limits<std::int32_t>::min(),
              std::numeric_limits<std::int32_t>::max(), o.qid);
  o.json = g.Has("--json");
}

}  // namespace

bool CallAllowsPeriod(TModBusCallType call) {
  return call != mbGetDevName && call != mbReadTimeArch && call != mbReadIndexArch &&
         call != mbReadTimeArch2 && call <= kLastSupportedCallType;
}

CtlOptions ParseCtlOptions(const std::vector<std::string>& args) {
  CtlOptions o;
  if (std::find_if(args.begin(), args.end(),
                   [](const std::string& a) { return a == "--help" || a == "-h"; }) != args.end()) {
    o.help = true;
    return o;
  }
  const Given g = Collect(args);
  ReadLink(g, o);
  ReadMaster(g, o.master);
  ReadRequestOptions(g, o);
  ReadRun(g, o);
  return o;
}

CtlOptions ParseCtlOptions(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int k = 1; k < argc; ++k) args.emplace_back(argv[k]);
  return ParseCtlOptions(args);
}

}  // namespace tarvo::ctl
