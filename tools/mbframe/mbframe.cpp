// tarvo-mbframe: shows the frame the server sends for a request array, and what a device's answer
// to it decodes to. For checking a device's documentation against the wire, without a line.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/variant/OleDate.h"
#include "platform/variant/OleToVar.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusRequest.h"

using namespace tarvo;

namespace {

const char* kUsage = R"(Usage: tarvo-mbframe [options] ELEMENT... [--answer BYTES]

Builds the ModBus request frame for a request array, as the server would send it, and, with
--answer, checks and decodes a device's answer to it into the reply array.

ELEMENT is one element of the request array: an integer (sent as a 32-bit integer), true or
false, a typed value TYPE:VALUE with TYPE one of i8 u8 i16 u16 i32 u32 f32 f64 str date
(date as yyyy-mm-dd[Thh:mm:ss]), or a list [E,E,...] of such values. Integers may be
written in hexadecimal as 0x1F. Element 0 is the call type,
element 1 the query ID; see the request layouts of the server's type library.

Options:
  --ascii          ASCII framing (default RTU)
  --addr N         the master's device address (default 1)
  --adjust         AdjustToWord: one-byte values take a whole register
  --optimal        OptimalUseFunction: single writes use functions 6 and 5
  --answer BYTES   the answer as hexadecimal bytes ("01 03 02 00 0A 38 43"); in ASCII framing
                   the answer's characters, with \r\n written as they stand or left out
  -h, --help       this text

Example: the frame for reading 10 unsigned registers from address 100 of device 1:
  tarvo-mbframe 2 1 0 100 18 10
)";

[[noreturn]] void Fail(const std::string& what) {
  std::cerr << "tarvo-mbframe: " << what << "\n(see tarvo-mbframe --help)\n";
  std::exit(2);
}

std::vector<std::string> SplitList(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ',') {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty() || !out.empty()) out.push_back(cur);
  return out;
}

double ParseDate(const std::string& s) {
  DateTimeParts p;
  p.hour = p.minute = p.second = 0;
  if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d", &p.year, &p.month, &p.day, &p.hour, &p.minute,
                  &p.second) < 3 ||
      p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour > 23 || p.minute > 59 ||
      p.second > 59)
    Fail("not a date: " + s);
  return EncodeOleDate(p);
}

// "0x1F" as the automation's own "&H1F".
std::string Number(const std::string& s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) return "&H" + s.substr(2);
  return s;
}

Variant ParseScalar(const std::string& s) {
  if (s == "true") return Variant(true);
  if (s == "false") return Variant(false);
  const auto colon = s.find(':');
  try {
    if (colon == std::string::npos) return Variant(Number(s)).ChangeType(VT_I4);
    const std::string type = s.substr(0, colon), value = s.substr(colon + 1);
    if (type == "str") return Variant(value);
    if (type == "date") return Variant::Date(ParseDate(value));
    static const struct {
      const char* name;
      VarType vt;
    } kTypes[] = {{"i8", VT_I1},  {"u8", VT_UI1},  {"i16", VT_I2}, {"u16", VT_UI2},
                  {"i32", VT_I4}, {"u32", VT_UI4}, {"f32", VT_R4}, {"f64", VT_R8}};
    for (const auto& t : kTypes)
      if (type == t.name) return Variant(Number(value)).ChangeType(t.vt);
  } catch (const VariantError& e) {
    Fail("cannot read " + s + ": " + e.what());
  }
  Fail("unknown type in " + s);
}

Variant ParseElement(const std::string& s) {
  if (s.size() >= 2 && s.front() == '[' && s.back() == ']') {
    std::vector<Variant> items;
    for (const std::string& item : SplitList(s.substr(1, s.size() - 2)))
      items.push_back(ParseScalar(item));
    return Variant(SafeArray::Of(VT_VARIANT, items));
  }
  return ParseScalar(s);
}

std::vector<std::uint8_t> ParseAnswer(const std::string& text, bool ascii) {
  std::vector<std::uint8_t> out;
  if (ascii) {
    std::string s = text;
    for (std::size_t k; (k = s.find("\\r\\n")) != std::string::npos;) s.replace(k, 4, "\r\n");
    if (s.size() < 2 || s.compare(s.size() - 2, 2, "\r\n") != 0) s += "\r\n";
    return std::vector<std::uint8_t>(s.begin(), s.end());
  }
  std::string digits;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
  if (digits.size() % 2) Fail("odd number of hexadecimal digits in the answer");
  for (std::size_t k = 0; k < digits.size(); k += 2) {
    char* end = nullptr;
    const std::string pair = digits.substr(k, 2);
    const unsigned long b = std::strtoul(pair.c_str(), &end, 16);
    if (*end) Fail("not a hexadecimal byte: " + pair);
    out.push_back(static_cast<std::uint8_t>(b));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  TModbusSettings settings;
  settings.DevAddr = 1;
  std::vector<Variant> elements;
  std::string answerText;
  bool haveAnswer = false;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--ascii") {
      settings.Mode = mmASCII;
    } else if (a == "--adjust") {
      settings.AdjustToWord = true;
    } else if (a == "--optimal") {
      settings.OptimalUseFunction = true;
    } else if (a == "--addr" && k + 1 < argc) {
      const long v = std::strtol(argv[++k], nullptr, 0);
      if (v < 0 || v > 255) Fail("device address must be 0 to 255");
      settings.DevAddr = static_cast<std::uint8_t>(v);
    } else if (a == "--answer" && k + 1 < argc) {
      answerText = argv[++k];
      haveAnswer = true;
    } else if (a.size() > 1 && a[0] == '-' && !std::isdigit(static_cast<unsigned char>(a[1]))) {
      Fail("unknown option " + a);
    } else {
      elements.push_back(ParseElement(a));
    }
  }
  if (elements.empty()) Fail("no request elements");

  Variant request;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, elements)), request);
  TModbusTask task = MakeRequest(request, settings);
  if (task.WrongType) {
    std::cout << "refused: " << MakeReply(task, Variant(), mbcWrongType).Describe() << "\n";
    return 1;
  }
  TFrameBuf frame{};
  int len = 0;
  try {
    len = FormQuery(frame, task);
  } catch (const FrameOverflowError&) {
    std::cout << "refused: the frame does not fit " << kTaskBufSize << " bytes\n";
    return 1;
  }
  std::printf("function %u, %d bytes:", task.FunNum, len);
  if (settings.Mode == mmASCII) {
    std::printf(" ");
    for (int k = 0; k < len - 2; ++k) std::putchar(frame[k]);
    std::printf("\\r\\n\n");
  } else {
    for (int k = 0; k < len; ++k) std::printf(" %02X", frame[k]);
    std::printf("\n");
  }
  if (!haveAnswer) return 0;

  const std::vector<std::uint8_t> bytes = ParseAnswer(answerText, settings.Mode == mmASCII);
  if (bytes.size() > static_cast<std::size_t>(kTaskBufSize)) Fail("the answer is longer than a frame");
  TBaseTransportTask answer;
  answer.WaitForAnswer = task.DevAddr > 0;
  answer.Bufsize = static_cast<std::int32_t>(bytes.size());
  if (!bytes.empty()) std::memcpy(answer.Buf.data(), bytes.data(), bytes.size());
  TFrameBuf scratch{};
  Variant reply;
  const int result = Parse(answer, task, scratch, reply);
  std::printf("result %d %s\nvalue %s\n", result, std::string(ResultName(result)).c_str(),
              reply.Array().At(riValue).Describe().c_str());
  return result == mbcOK ? 0 : 1;
}
