#include "server/modbus/ModbusCodec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/variant/OleDate.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/Checksum.h"
#include "server/modbus/ModbusRequest.h"
#include "server/modbus/ModbusTestUtil.h"

namespace tarvo {
namespace {

using testing::Arr;
using testing::Chars;
using testing::Hex;
using testing::Req;
using testing::U16;
using testing::U8;

TEST(Checksum, CrcLrcAndHexCharacters) {
  auto a = Hex("01 03 00 00 00 01");
  EXPECT_EQ(CRC(a.data(), 6), 0x840A);  // sent as 84 0A
  auto b = Chars("123456789");
  EXPECT_EQ(CRC(b.data(), 9), 0x374B);  // the standard check value 0x4B37, low byte first
  EXPECT_EQ(CRC(a.data(), 0), 0xFFFF);
  EXPECT_EQ(CRC(a.data(), -3), 0xFFFF);

  auto chars = Chars(":010300000001");
  EXPECT_EQ(LRC(chars.data(), 12, 1), 0xFB);
  EXPECT_EQ(LRC(chars.data(), 0, 1), 0x00);

  EXPECT_EQ(FromByte(0x00), (std::array<std::uint8_t, 2>{'0', '0'}));
  EXPECT_EQ(FromByte(0x9F), (std::array<std::uint8_t, 2>{'9', 'F'}));
  EXPECT_EQ(FromByte(0xA0), (std::array<std::uint8_t, 2>{'A', '0'}));
  auto hex = Chars("FBab");
  EXPECT_EQ(ToByte(hex.data(), 0), 0xFB);
  EXPECT_EQ(ToByte(hex.data(), 2), static_cast<std::uint8_t>(42 * 16 + 43));  // lower case misreads
}

TEST(MakeFrame, FramesBytesInBothModes) {
  auto pdu = Hex("01 03 00 00 00 01");
  TFrameBuf buf{};
  int len = MakeFrame(pdu.data(), 6, mmRTU, buf);
  EXPECT_EQ(testing::ToHex(buf.data(), len), "01 03 00 00 00 01 84 0A");
  len = MakeFrame(pdu.data(), 6, mmASCII, buf);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + len), ":010300000001FB\r\n");
  std::vector<std::uint8_t> big(599, 1);
  EXPECT_EQ(MakeFrame(big.data(), 598, mmRTU, buf), 600);
  EXPECT_THROW(MakeFrame(big.data(), 599, mmRTU, buf), FrameOverflowError);
  EXPECT_THROW(MakeFrame(big.data(), 298, mmASCII, buf), FrameOverflowError);
}

TModbusSettings Settings(TModbusMode mode, bool adjust = false, bool optimal = false) {
  TModbusSettings s;
  s.DevAddr = 1;
  s.Mode = mode;
  s.AdjustToWord = adjust;
  s.OptimalUseFunction = optimal;
  return s;
}

struct FrameCase {
  const char* name;
  Variant request;
  bool adjust, optimal;
  const char* rtu;    // hex, CRC included
  const char* ascii;  // the characters between ':' and CR LF, LRC included; "" to skip
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class FormQueryTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FormQueryTest, BuildsRtuAndAsciiFrames) {
  const FrameCase& c = GetParam();
  TFrameBuf buf{};
  TModbusTask rtu = MakeRequest(c.request, Settings(mmRTU, c.adjust, c.optimal));
  ASSERT_FALSE(rtu.WrongType);
  int len = FormQuery(buf, rtu);
  auto want = Hex(c.rtu);
  EXPECT_EQ(testing::ToHex(buf.data(), len), testing::ToHex(want.data(), int(want.size())));
  if (*c.ascii) {
    TModbusTask ascii = MakeRequest(c.request, Settings(mmASCII, c.adjust, c.optimal));
    len = FormQuery(buf, ascii);
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + len), ":" + std::string(c.ascii) + "\r\n");
  }
}

Variant Date(int y, int mo, int d, int h, int mi, int s) {
  return Variant::Date(EncodeOleDate({y, mo, d, h, mi, s, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormQueryTest,
    ::testing::Values(
        FrameCase{"ReadHoldRegs", Req({2, 1, 0, 0, int(dtUnsignedWord), 1}), false, false,
                  "01 03 00 00 00 01 84 0A", "010300000001FB"},
        FrameCase{"ReadInputFloats", Req({4, 1, 0, 8, int(dtSingle), 2}), false, false,
                  "01 04 00 08 00 04 70 0B", ""},
        FrameCase{"ThreeBytesPacked", Req({2, 1, 0, 0x10, int(dtUnsignedByte), 3}), false, false,
                  "01 03 00 10 00 02 C5 CE", "010300100002EA"},
        FrameCase{"ThreeBytesAdjusted", Req({2, 1, 0, 0x10, int(dtUnsignedByte), 3}), true, false,
                  "01 03 00 10 00 03 04 0E", "010300100003E9"},
        FrameCase{"WriteOneWordFunction6", Req({3, 1, 0, 5, U16(0x1234)}), false, true,
                  "01 06 00 05 12 34 94 BC", "010600051234AE"},
        FrameCase{"WriteOneWordFunction16", Req({3, 1, 0, 5, U16(0x1234)}), false, false,
                  "01 10 00 05 00 01 02 12 34 AB 72", "011000050001021234A1"},
        FrameCase{"WriteLongAndFloat",
                  Req({3, 1, 0, 0, Arr({Variant(std::int32_t{0x01020304}), Variant(1.0f)})}),
                  false, false, "01 10 00 00 00 04 08 01 02 03 04 3F 80 00 00 A8 79",
                  "01100000000408010203043F8000001A"},
        FrameCase{"WriteOddBytesPadded", Req({3, 1, 0, 0, Arr({U8(0x0A), U8(0x0B), U8(0x0C)})}),
                  false, false, "01 10 00 00 00 02 04 0A 0B 0C 00 84 B5",
                  "011000000002040A0B0C00C8"},
        FrameCase{"ReadCoils", Req({5, 1, 0, 0x13, 10}), false, false, "01 01 00 13 00 0A 4D C8",
                  "01010013000AE1"},
        FrameCase{"ReadInputs", Req({7, 1, 0, 0, 8}), false, false, "01 02 00 00 00 08 79 CC", ""},
        FrameCase{"WriteThreeCoils", Req({6, 1, 0, 0, Arr({true, false, true})}), false, false,
                  "01 0F 00 00 00 03 01 05 4F 54", "010F000000030105E7"},
        FrameCase{"WriteNineCoils",
                  Req({6, 1, 0, 0, Arr({true, false, false, false, false, false, false, true, true})}),
                  false, true, "01 0F 00 00 00 09 02 81 01 44 EC", ""},
        FrameCase{"WriteOneCoilOn", Req({6, 1, 0, 7, Variant(true)}), false, true,
                  "01 05 00 07 FF 00 3D FB", "01050007FF00F4"},
        FrameCase{"WriteOneCoilOff", Req({6, 1, 0, 7, Arr({false})}), false, true,
                  "01 05 00 07 00 00 7C 0B", ""},
        FrameCase{"ReadTimeArchive", Req({8, 1, 2, 3, 26, 12, 11, 10, 20, 30, int(dtUnsignedWord)}),
                  false, false, "01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A C9 E5",
                  "014100020003011E140A0B0C1A4B"},
        FrameCase{"ReadTimeArchiveByDate",
                  Req({12, 1, 2, 3, Date(2026, 12, 11, 10, 20, 30), int(dtUnsignedWord), 0, -1}),
                  false, false, "01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A C9 E5", ""},
        FrameCase{"ReadIndexArchive", Req({9, 1, 1, 2, 0x100, int(dtUnsignedWord)}), false, false,
                  "01 41 00 01 00 02 00 01 00 C3 65", "014100010002000100BA"},
        FrameCase{"ReadStatus", Req({10, 1, 0}), false, false, "01 07 41 E2", "0107F8"},
        FrameCase{"GetDevName", Req({1, 1}), false, false, "01 11 C0 2C", "0111EE"},
        FrameCase{"Diagnostics", Req({11, 1, 0, 0, 0xA537}), false, false,
                  "01 08 00 00 A5 37 DA 8D", "01080000A5371B"},
        FrameCase{"Exchange", Req({0, 1, 5, 0x2B, 0, Arr({0x0E, 0x101, 0})}), false, false,
                  "05 2B 0E 01 00 81 B7", "052B0E0100C1"}),
    [](const ::testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

TEST(FormQuery, FrameThatPassesTheBufferRaises) {
  TFrameBuf buf{};
  // Address, function and 597 data bytes fill 599 bytes: the checksum no longer fits.
  std::vector<Variant> data(597, Variant(1));
  TModbusTask t = MakeRequest(Req({0, 1, 1, 0x41, 0, Arr(data)}), Settings(mmRTU));
  ASSERT_FALSE(t.WrongType);
  EXPECT_THROW(FormQuery(buf, t), FrameOverflowError);
  data.resize(596);
  t = MakeRequest(Req({0, 1, 1, 0x41, 0, Arr(data)}), Settings(mmRTU));
  EXPECT_EQ(FormQuery(buf, t), 600);
  t = MakeRequest(Req({0, 1, 1, 0x41, 0, Arr(data)}), Settings(mmASCII));
  EXPECT_THROW(FormQuery(buf, t), FrameOverflowError);
}

// Answer checking.

struct ParseCase {
  const char* name;
  Variant request;
  bool adjust;
  TModbusMode mode;
  std::vector<std::uint8_t> answer;
  int result;
  Variant value;  // the reply's element 4
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ChecksAndDecodes) {
  const ParseCase& c = GetParam();
  TModbusTask t = MakeRequest(c.request, Settings(c.mode, c.adjust));
  ASSERT_FALSE(t.WrongType);
  TBaseTransportTask answer;
  answer.WaitForAnswer = t.DevAddr > 0;
  answer.Bufsize = static_cast<std::int32_t>(c.answer.size());
  if (!c.answer.empty()) std::memcpy(answer.Buf.data(), c.answer.data(), c.answer.size());
  TFrameBuf scratch{};
  Variant reply;
  EXPECT_EQ(Parse(answer, t, scratch, reply), c.result);
  const SafeArray& r = reply.Array();
  EXPECT_EQ(r.At(riValue), c.value);
  EXPECT_EQ(r.At(riResult), Variant(c.result));
  EXPECT_EQ(r.At(riCallType), U8(t.CallType));
  EXPECT_EQ(r.At(riQID), Variant(t.QID));
  EXPECT_EQ(r.At(riDevAddr), U8(t.DevAddr));
  EXPECT_EQ(r.At(riFunNum), U8(t.FunNum));
}

const Variant kRead1 = Req({2, 77, 0, 0, int(dtUnsignedWord), 1});
const Variant kRead2 = Req({2, 77, 0, 0, int(dtUnsignedWord), 2});

Variant Typed(VarType vt, std::vector<Variant> items) { return Variant(SafeArray::Of(vt, items)); }

Variant Table2(std::vector<std::vector<Variant>> rows) {
  SafeArray a(VT_VARIANT, {{0, std::uint32_t(rows.size())}, {0, std::uint32_t(rows[0].size())}});
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = 0; j < rows[i].size(); ++j) a.Set(i, j, rows[i][j]);
  return Variant(a);
}

Variant Archive2(int type) {
  return Req({12, 5, 1, 1, Date(2026, 12, 11, 10, 0, 0),
              Arr({int(dtUnsignedDoubleWord), int(dtUnsignedWord)}), type, 0});
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseTest,
    ::testing::Values(
        ParseCase{"OneWord", kRead1, false, mmRTU, Hex("01 03 02 00 0A 38 43"), mbcOK, U16(10)},
        ParseCase{"Nothing", kRead1, false, mmRTU, {}, mbcNoAnswer, {}},
        ParseCase{"ThreeBytes", kRead1, false, mmRTU, Hex("01 03 02"), mbcNoAnswer, {}},
        ParseCase{"BadCrc", kRead1, false, mmRTU, Hex("01 03 02 00 0A 38 44"), mbcCheckSumError, {}},
        ParseCase{"OtherDevice", kRead1, false, mmRTU, Hex("02 03 02 00 0A 7C 43"), mbcWrongAddr, {}},
        ParseCase{"OtherFunction", kRead1, false, mmRTU, Hex("01 04 02 00 0A 39 37"),
                  mbcWrongFunNumber, {}},
        ParseCase{"ExceptionIllegalAddress", kRead1, false, mmRTU, Hex("01 83 02 C0 F1"), mbcIDA, {}},
        ParseCase{"ExceptionWithoutCode", kRead1, false, mmRTU, Hex("01 83 41 81"),
                  mbcNotEnoughData, {}},
        ParseCase{"ByteCountBelowRequest", kRead2, false, mmRTU, Hex("01 03 02 00 0A 38 43"),
                  mbcNotEnoughData, {}},
        ParseCase{"ByteCountBeyondFrame", kRead1, false, mmRTU, Hex("01 03 04 00 0A D8 42"),
                  mbcNotEnoughData, {}},
        ParseCase{"FloatNaN", Req({2, 1, 0, 0, int(dtSingle), 1}), false, mmRTU,
                  Hex("01 03 04 7F C0 00 00 E3 DB"), mbcWrongFloat, {}},
        ParseCase{"FloatOne", Req({2, 1, 0, 0, int(dtSingle), 1}), false, mmRTU,
                  Hex("01 03 04 3F 80 00 00 F7 CF"), mbcOK, Variant(1.0f)},
        ParseCase{"BytesAdjusted", Req({2, 1, 0, 0, int(dtUnsignedByte), 3}), true, mmRTU,
                  Hex("01 03 06 00 01 00 02 00 03 FD 74"), mbcOK,
                  Typed(VT_UI1, {U8(1), U8(2), U8(3)})},
        ParseCase{"BytesPackedPadIgnored", Req({2, 1, 0, 0, int(dtUnsignedByte), 3}), false, mmRTU,
                  Hex("01 03 04 01 02 03 FF 1A BF"), mbcOK, Typed(VT_UI1, {U8(1), U8(2), U8(3)})},
        ParseCase{"SignedTypes",
                  Req({2, 1, 0, 0, Arr({int(dtSignedWord), int(dtSignedDoubleWord), int(dtSignedByte),
                                        int(dtUnsignedByte)}), 1}),
                  false, mmRTU, Hex("01 03 08 FF FE FF FF FF FD 80 FF 45 63"), mbcOK,
                  Arr({Variant(std::int16_t{-2}), Variant(std::int32_t{-3}),
                       Variant(std::int8_t{-128}), U8(255)})},
        ParseCase{"Record", Req({2, 1, 0, 0, Arr({int(dtUnsignedWord), int(dtSignedDoubleWord)}), 1}),
                  false, mmRTU, Hex("01 03 06 00 07 FF FF FF FE 54 E1"), mbcOK,
                  Arr({U16(7), Variant(std::int32_t{-2})})},
        ParseCase{"TwoRecords",
                  Req({2, 1, 0, 0, Arr({int(dtUnsignedWord), int(dtSignedDoubleWord)}), 2}), false,
                  mmRTU, Hex("01 03 0C 00 07 FF FF FF FE 00 08 00 00 00 01 89 C9"), mbcOK,
                  Table2({{U16(7), Variant(std::int32_t{-2})}, {U16(8), Variant(std::int32_t{1})}})},
        ParseCase{"TenCoils", Req({5, 1, 0, 0, 10}), false, mmRTU, Hex("01 01 02 CD 01 2C AC"), mbcOK,
                  Typed(VT_BOOL, {true, false, true, true, false, false, true, true, true, false})},
        ParseCase{"OneCoil", Req({5, 1, 0, 0, 1}), false, mmRTU, Hex("01 01 01 01 90 48"), mbcOK,
                  Variant(true)},
        ParseCase{"Status", Req({10, 1, 0}), false, mmRTU, Hex("01 07 6D E3 DD"), mbcOK, U8(0x6D)},
        ParseCase{"StatusTooLong", Req({10, 1, 0}), false, mmRTU, Hex("01 07 6D 00 9C 89"),
                  mbcNotEnoughData, {}},
        ParseCase{"Diagnostics", Req({11, 1, 0, 0, 0xA537}), false, mmRTU,
                  Hex("01 08 00 00 A5 37 DA 8D"), mbcOK, Typed(VT_UI2, {U16(0), U16(0xA537)})},
        ParseCase{"WriteEcho", Req({3, 1, 0, 0, Arr({U16(1), U16(2)})}), false, mmRTU,
                  Hex("01 10 00 00 00 02 41 C8"), mbcOK, {}},
        ParseCase{"ExchangeNoData", Req({0, 1, 5, 0x2B, 0, Arr({})}), false, mmRTU,
                  Hex("05 2B 42 FF"), mbcOK, Typed(VT_UI1, {})},
        ParseCase{"ExchangeData", Req({0, 1, 5, 0x2B, 0, Arr({})}), false, mmRTU,
                  Hex("05 2B 0E 01 00 81 B7"), mbcOK, Typed(VT_UI1, {U8(0x0E), U8(1), U8(0)})},
        ParseCase{"DevName", Req({1, 1}), false, mmRTU, Hex("01 11 05 54 61 72 76 6F 68 F4"), mbcOK,
                  Variant("Tarvo")},
        ParseCase{"DevNameCyrillic", Req({1, 1}), false, mmRTU, Hex("01 11 02 C2 FB AD DF"), mbcOK,
                  Variant("Вы")},
        ParseCase{"Broadcast", Req({0, 1, 0, 6, 0, Arr({0, 1, 0, 2})}), false, mmRTU, {}, mbcOK, {}},
        ParseCase{"ArchiveTimeMatches", Archive2(0), false, mmRTU,
                  Hex("01 41 06 6B 1B C9 A0 00 2A 76 24"), mbcOK,
                  Arr({Variant(std::uint32_t{0x6B1BC9A0}), U16(42)})},
        ParseCase{"ArchiveOtherHour", Archive2(0), false, mmRTU,
                  Hex("01 41 06 6B 1B D7 B0 00 2A 71 C9"), mbcWrongArchTime, {}},
        ParseCase{"ArchiveOtherHourDayGranularity", Archive2(1), false, mmRTU,
                  Hex("01 41 06 6B 1B D7 B0 00 2A 71 C9"), mbcOK,
                  Arr({Variant(std::uint32_t{0x6B1BD7B0}), U16(42)})},
        ParseCase{"ArchiveMinutesWithinHour", Archive2(0), false, mmRTU,
                  Hex("01 41 06 6B 1B CF 7C 00 2A B7 56"), mbcOK,
                  Arr({Variant(std::uint32_t{0x6B1BCF7C}), U16(42)})},
        ParseCase{"AsciiOneWord", kRead1, false, mmASCII, Chars(":010302000AF0\r\n"), mbcOK, U16(10)},
        ParseCase{"AsciiNothing", kRead1, false, mmASCII, {}, mbcNoAnswer, {}},
        ParseCase{"AsciiFiveChars", kRead1, false, mmASCII, Chars(":01\r\n"), mbcNotEnoughData, {}},
        ParseCase{"AsciiEvenLength", kRead1, false, mmASCII, Chars(":010302000AF0\r\n\n"),
                  mbcNotEnoughData, {}},
        ParseCase{"AsciiNoColon", kRead1, false, mmASCII, Chars(";010302000AF0\r\n"),
                  mbcNotEnoughData, {}},
        ParseCase{"AsciiNoLineEnd", kRead1, false, mmASCII, Chars(":010302000AF0\r\r"),
                  mbcNotEnoughData, {}},
        ParseCase{"AsciiBadLrc", kRead1, false, mmASCII, Chars(":010302000AF1\r\n"),
                  mbcCheckSumError, {}},
        ParseCase{"AsciiLowerCase", kRead1, false, mmASCII, Chars(":01030200ab4F\r\n"),
                  mbcCheckSumError, {}},
        ParseCase{"AsciiException", kRead1, false, mmASCII, Chars(":0183027A\r\n"), mbcIDA, {}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(Parse, EveryExceptionCode) {
  const int expected[] = {mbcUnknownError, mbcIFN, mbcIDA, mbcIDV, mbcSDF, mbcACK,
                          mbcSDB, mbcNACK, mbcMPE, mbcUnknownError};
  TModbusTask t = MakeRequest(kRead1, Settings(mmRTU));
  for (int code = 0; code <= 9; ++code) {
    std::uint8_t bytes[] = {1, 0x83, static_cast<std::uint8_t>(code)};
    Variant value;
    EXPECT_EQ(ParseBuf(bytes, 3, t, value), expected[code]) << code;
    EXPECT_TRUE(value.IsEmpty());
  }
}

TEST(Parse, UnusableTypeCodeIsAnErrorNotACrash) {
  // 34 & 23 is 2, so the size rule takes it as a word, but no value type has that code.
  TModbusTask t = MakeRequest(Req({2, 1, 0, 0, 34, 2}), Settings(mmRTU));
  ASSERT_FALSE(t.WrongType);
  std::uint8_t bytes[] = {1, 3, 4, 0, 1, 0, 2};
  Variant value;
  EXPECT_EQ(ParseBuf(bytes, 7, t, value), mbcUnknownError);
}

TEST(Parse, BufferSizesOutsideTheBuffer) {
  TModbusTask t = MakeRequest(kRead1, Settings(mmRTU));
  TBaseTransportTask answer;
  TFrameBuf scratch{};
  Variant reply;
  answer.Bufsize = 601;
  EXPECT_EQ(Parse(answer, t, scratch, reply), mbcNotEnoughData);
  answer.Bufsize = -5;
  EXPECT_EQ(Parse(answer, t, scratch, reply), mbcNoAnswer);
}

TEST(BufToVar, NeverReadsPastTheEnd) {
  std::uint8_t bytes[] = {0x7F, 0x80, 0x00, 0x00, 0x12};
  for (std::int64_t code : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_R4}) {
    int pos = 3;
    Variant v;
    EXPECT_EQ(BufToVar(bytes, 4, pos, true, code, v), mbcNotEnoughData) << code;
    EXPECT_EQ(pos, 3);
  }
  int pos = 0;
  Variant v;
  EXPECT_EQ(BufToVar(bytes, 5, pos, false, VT_R4, v), mbcWrongFloat);  // infinity
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(BufToVar(bytes, 5, pos, false, VT_BSTR, v), mbcOK);  // other codes read nothing
  EXPECT_EQ(pos, 0);
  EXPECT_TRUE(v.IsEmpty());
}

}  // namespace
}  // namespace tarvo
