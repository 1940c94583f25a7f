// Feeds arbitrary answers to the answer checker for every call type and both framings. The
// request comes either from the request reader (as a client would build it) or straight from
// fuzzed fields, so that even an inconsistent request cannot make Parse read or write astray.
//
// Input: [0] call type (low 4 bits), ASCII (bit 4), AdjustToWord (bit 5), OptimalUseFunction
// (bit 6), raw fields (bit 7); [1] count; [2] data type selector; [3] bit 0: append a valid
// checksum, bits 1-2: archive granularity, bits 3-7: time field index; [4] device address;
// [5] function code; the rest is the answer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/variant/OleToVar.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusRequest.h"

using namespace tarvo;

namespace {

const std::int32_t kCodes[] = {2, 3, 4, 16, 17, 18, 19, 11, 10, 34, 20, 8, 0};

Variant TypeFor(std::uint8_t sel) {
  const std::size_t n = sizeof kCodes / sizeof kCodes[0];
  if (sel < 0x80) return Variant(kCodes[sel % n]);
  std::vector<Variant> fields;
  for (int k = 0; k <= (sel >> 4 & 3); ++k) fields.push_back(Variant(kCodes[(sel + k * 3) % n]));
  Variant out;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, fields)), out);
  return out;
}

Variant Request(int callType, int count, const Variant& type, std::uint8_t fun) {
  std::vector<Variant> v{Variant(callType), Variant(7)};
  auto add = [&](std::initializer_list<Variant> items) { v.insert(v.end(), items); };
  std::vector<Variant> values;
  for (int k = 0; k < count % 20 + 1; ++k) values.push_back(k % 2 ? Variant(true) : Variant(false));
  Variant bools(SafeArray::Of(VT_VARIANT, values));
  switch (callType) {
    case 0: add({Variant(1), Variant(fun), Variant(0), Variant(SafeArray(VT_VARIANT, 0, 0))}); break;
    case 2: case 4: add({Variant(0), Variant(0), type, Variant(count)}); break;
    case 3: add({Variant(0), Variant(0), Variant(static_cast<std::uint16_t>(count))}); break;
    case 5: case 7: add({Variant(0), Variant(0), Variant(count)}); break;
    case 6: add({Variant(0), Variant(0), bools}); break;
    case 8: add({Variant(1), Variant(count), Variant(26), Variant(12), Variant(11), Variant(10),
                 Variant(0), Variant(0), type}); break;
    case 9: add({Variant(1), Variant(count), Variant(0), type}); break;
    case 10: add({Variant(0)}); break;
    case 11: add({Variant(0), Variant(0), Variant(0)}); break;
    case 12: add({Variant(1), Variant(count), Variant::Date(46367.0), type, Variant(0), Variant(0)});
      break;
    default: break;
  }
  Variant out;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, v)), out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint8_t flags = data[0], count = data[1], typeSel = data[2], extra = data[3];
  const bool ascii = flags & 0x10;
  TModbusTask t;
  if (flags & 0x80) {
    t.CallType = static_cast<TModBusCallType>(flags & 0x0F);
    t.Mode = ascii ? mmASCII : mmRTU;
    t.AdjustToWord = flags & 0x20;
    t.DevAddr = data[4];
    t.FunNum = data[5];
    t.DataCount = static_cast<std::int8_t>(count);
    t.DataSize = typeSel & 0x0F;
    t.DataReminder = typeSel >> 4 & 1;
    t.DataType = TypeFor(typeSel);
    t.ArchType = extra >> 1 & 3;
    t.ArchTimeFieldIndex = static_cast<std::int8_t>(extra) >> 3;
  } else {
    TModbusSettings s;
    s.DevAddr = data[4];
    s.Mode = ascii ? mmASCII : mmRTU;
    s.AdjustToWord = flags & 0x20;
    s.OptimalUseFunction = flags & 0x40;
    t = MakeRequest(Request((flags & 0x0F) % 13, count, TypeFor(typeSel), data[5]), s);
    t.ArchType = extra >> 1 & 3;
    t.ArchTimeFieldIndex = extra >> 3;
    TFrameBuf query{};
    if (!t.WrongType) {
      try {
        FormQuery(query, t);
      } catch (const FrameOverflowError&) {
      }
    }
  }

  // The answer: raw bytes, or the same bytes framed with a valid checksum so that decoding is
  // reached as often as the checks.
  TBaseTransportTask answer;
  answer.WaitForAnswer = t.DevAddr != 0 || (flags & 0x40);
  const std::uint8_t* body = data + 6;
  std::size_t n = size - 6;
  int len = 0;
  if (extra & 1) {
    n = std::min<std::size_t>(n, 250);
    len = MakeFrame(body, static_cast<int>(n), ascii ? mmASCII : mmRTU, answer.Buf);
  } else {
    n = std::min<std::size_t>(n, kTaskBufSize);
    std::memcpy(answer.Buf.data(), body, n);
    len = static_cast<int>(n);
  }
  answer.Bufsize = len;
  TFrameBuf scratch{};
  Variant reply;
  const int result = Parse(answer, t, scratch, reply);
  if (result < 0 || result > mbcWrongArchTime) __builtin_trap();
  if (!reply.IsArray() || reply.Array().Count() != 6) __builtin_trap();
  return 0;
}
