#include "tools/tarvoctl/CtlFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/variant/OleDate.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusRequest.h"
#include "tools/tarvoctl/CtlArrays.h"
#include "tools/tarvoctl/CtlOptions.h"

namespace tarvo::ctl {
namespace {

Variant Arr(std::vector<Variant> items) { return Variant(SafeArray::Of(VT_VARIANT, items)); }

Variant Records(std::vector<std::vector<Variant>> rows) {
  SafeArray a(VT_VARIANT, {{0, static_cast<std::uint32_t>(rows.size())},
                           {0, static_cast<std::uint32_t>(rows[0].size())}});
  for (std::size_t r = 0; r < rows.size(); ++r)
    for (std::size_t f = 0; f < rows[r].size(); ++f) a.Set(r, f, rows[r][f]);
  return Variant(std::move(a));
}

Variant Date(int y, int mo, int d, int h, int mi, int s) {
  return Variant::Date(EncodeOleDate({y, mo, d, h, mi, s, 0}));
}

struct ReplyCase {
  const char* name;
  Variant reply;
  const char* text;
  const char* json;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReplyOutput : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyOutput, TextAndJson) {
  const ReplyCase& c = GetParam();
  EXPECT_EQ(FormatReplyText(c.reply), c.text);
  EXPECT_EQ(FormatReplyJson(c.reply), c.json);
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReplyOutput,
    ::testing::Values(
        ReplyCase{"Scalar", MakeReply(2, 1, 1, 3, Variant(std::uint16_t{10}), 0),
                  "mbReadHoldRegs qid=1 addr=1 fn=3 result=0 mbcOK value=10",
                  R"({"call":2,"qid":1,"addr":1,"fn":3,"result":0,)"
                  R"("result_text":"mbcOK","value":10})"},
        ReplyCase{"SignedValues",
                  MakeReply(4, -5, 247, 4,
                            Variant(SafeArray::Of(VT_I2, {Variant(std::int16_t{-32768}),
                                                          Variant(std::int16_t{7})})),
                            0),
                  "mbReadInputRegs qid=-5 addr=247 fn=4 result=0 mbcOK value=[-32768,7]",
                  R"({"call":4,"qid":-5,"addr":247,"fn":4,"result":0,)"
                  R"("result_text":"mbcOK","value":[-32768,7]})"},
        ReplyCase{"Unsigned32", MakeReply(2, 1, 1, 3, Variant(std::uint32_t{4294967295u}), 0),
                  "mbReadHoldRegs qid=1 addr=1 fn=3 result=0 mbcOK value=4294967295",
                  R"({"call":2,"qid":1,"addr":1,"fn":3,"result":0,)"
                  R"("result_text":"mbcOK","value":4294967295})"},
        ReplyCase{"OneRecord",
                  MakeReply(2, 1, 1, 3, Arr({Variant(std::uint32_t{7}), Variant(1.5f)}), 0),
                  "mbReadHoldRegs qid=1 addr=1 fn=3 result=0 mbcOK value=[7,1.5]",
                  R"({"call":2,"qid":1,"addr":1,"fn":3,"result":0,)"
                  R"("result_text":"mbcOK","value":[7,1.5]})"},
        ReplyCase{"RecordsAsRows",
                  MakeReply(9, 3, 1, 65,
                            Records({{Variant(std::uint32_t{1}), Variant(0.1f)},
                                     {Variant(std::uint32_t{2}), Variant(-2.5e-7f)},
                                     {Variant(std::uint32_t{3}), Variant(kNaN)}}),
                            0),
                  "mbReadIndexArch qid=3 addr=1 fn=65 result=0 mbcOK "
                  "value=[[1,0.1],[2,-2.5e-07],[3,nan]]",
                  R"({"call":9,"qid":3,"addr":1,"fn":65,"result":0,)"
                  R"("result_text":"mbcOK","value":[[1,0.1],[2,-2.5e-07],[3,null]]})"},
        ReplyCase{"OneCoil", MakeReply(5, 1, 1, 1, Variant(true), 0),
                  "mbReadHoldCoils qid=1 addr=1 fn=1 result=0 mbcOK value=true",
                  R"({"call":5,"qid":1,"addr":1,"fn":1,"result":0,)"
                  R"("result_text":"mbcOK","value":true})"},
        ReplyCase{"Coils",
                  MakeReply(7, 1, 1, 2, Arr({Variant(true), Variant(false), Variant(true)}), 0),
                  "mbReadInputCoils qid=1 addr=1 fn=2 result=0 mbcOK value=[true,false,true]",
                  R"({"call":7,"qid":1,"addr":1,"fn":2,"result":0,)"
                  R"("result_text":"mbcOK","value":[true,false,true]})"},
        ReplyCase{"DeviceName",
                  MakeReply(1, 1, 1, 17, Variant("Счётчик \"A\\B\"\n\x01"), 0),
                  "mbGetDevName qid=1 addr=1 fn=17 result=0 mbcOK "
                  "value=\"Счётчик \\\"A\\\\B\\\"\\n\\u0001\"",
                  R"({"call":1,"qid":1,"addr":1,"fn":17,"result":0,)"
                  R"("result_text":"mbcOK","value":"Счётчик \"A\\B\"\n\u0001"})"},
        ReplyCase{"BytesThatAreNotUtf8",
                  MakeReply(1, 1, 1, 17, Variant(std::string("a\xC3(\xED\xA0\x80z\xF0\x9F")), 0),
                  "mbGetDevName qid=1 addr=1 fn=17 result=0 mbcOK "
                  "value=\"a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
                  "z\xEF\xBF\xBD\xEF\xBF\xBD\"",
                  "{\"call\":1,\"qid\":1,\"addr\":1,\"fn\":17,\"result\":0,\"result_text\":"
                  "\"mbcOK\",\"value\":\"a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"
                  "\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
        ReplyCase{"Exchange",
                  MakeReply(0, 8, 9, 65,
                            Variant(SafeArray::Of(VT_UI1, {Variant(std::uint8_t{0}),
                                                           Variant(std::uint8_t{255})})),
                            0),
                  "mbExchange qid=8 addr=9 fn=65 result=0 mbcOK value=[0,255]",
                  R"({"call":0,"qid":8,"addr":9,"fn":65,"result":0,)"
                  R"("result_text":"mbcOK","value":[0,255]})"},
        ReplyCase{"Diagnostics",
                  MakeReply(11, 1, 1, 8,
                            Arr({Variant(std::uint16_t{0}), Variant(std::uint16_t{0xABCD})}), 0),
                  "mbDiagnostics qid=1 addr=1 fn=8 result=0 mbcOK value=[0,43981]",
                  R"({"call":11,"qid":1,"addr":1,"fn":8,"result":0,)"
                  R"("result_text":"mbcOK","value":[0,43981]})"},
        ReplyCase{"RecordWithTime",
                  MakeReply(12, 1, 1, 65, Arr({Date(2024, 3, 5, 6, 7, 8), Variant(-kInf)}), 0),
                  "mbReadTimeArch2 qid=1 addr=1 fn=65 result=0 mbcOK "
                  "value=[\"2024-03-05 06:07:08\",-inf]",
                  R"({"call":12,"qid":1,"addr":1,"fn":65,"result":0,)"
                  R"("result_text":"mbcOK","value":["2024-03-05 06:07:08",null]})"},
        ReplyCase{"Write", MakeReply(3, 1, 1, 16, Variant(), 0),
                  "mbWriteHoldRegs qid=1 addr=1 fn=16 result=0 mbcOK value=empty",
                  R"({"call":3,"qid":1,"addr":1,"fn":16,"result":0,)"
                  R"("result_text":"mbcOK","value":null})"},
        ReplyCase{"NoAnswer", MakeReply(10, 1, 1, 7, Variant(), 1),
                  "mbReadStatus qid=1 addr=1 fn=7 result=1 mbcNoAnswer value=empty",
                  R"({"call":10,"qid":1,"addr":1,"fn":7,"result":1,)"
                  R"("result_text":"mbcNoAnswer","value":null})"},
        ReplyCase{"Refused", MakeReply(13, 4, 1, 0, Variant(), 15),
                  "mbCustom qid=4 addr=1 fn=0 result=15 mbcWrongType value=empty",
                  R"({"call":13,"qid":4,"addr":1,"fn":0,"result":15,)"
                  R"("result_text":"mbcWrongType","value":null})"},
        ReplyCase{"NoTransport", MakeReply(2, 1, 1, 3, Variant(), 18),
                  "mbReadHoldRegs qid=1 addr=1 fn=3 result=18 mbcNoTransport value=null",
                  R"({"call":2,"qid":1,"addr":1,"fn":3,"result":18,)"
                  R"("result_text":"mbcNoTransport","value":null})"},
        ReplyCase{"UnknownCallAndResult", MakeReply(200, 1, 1, 3, Variant(), 42),
                  "200 qid=1 addr=1 fn=3 result=42 unknown value=empty",
                  R"({"call":200,"qid":1,"addr":1,"fn":3,"result":42,)"
                  R"("result_text":"unknown","value":null})"},
        ReplyCase{"EmptyArray", MakeReply(0, 1, 1, 3, Variant(SafeArray(VT_UI1, 0, 0)), 0),
                  "mbExchange qid=1 addr=1 fn=3 result=0 mbcOK value=[]",
                  R"({"call":0,"qid":1,"addr":1,"fn":3,"result":0,)"
                  R"("result_text":"mbcOK","value":[]})"}));

// Values the server never sends but a reply might still hold.
TEST(ValueJson, EveryScalarKindAndNesting) {
  const struct {
    Variant value;
    const char* json;
  } cases[] = {
      {Variant(), "null"},
      {Variant::Null(), "null"},
      {Variant(false), "false"},
      {Variant(std::int8_t{-128}), "-128"},
      {Variant(std::int64_t{-9007199254740993}), "-9007199254740993"},
      {Variant(std::uint64_t{18446744073709551615u}), "18446744073709551615"},
      {Variant(0.1f), "0.1"},
      {Variant(16777216.0f), "16777216"},
      {Variant(std::numeric_limits<float>::max()), "3.4028235e+38"},
      {Variant(std::numeric_limits<float>::denorm_min()), "1e-45"},
      {Variant(-0.0f), "-0"},
      {Variant(0.1), "0.1"},
      {Variant(1.0 / 3.0), "0.3333333333333333"},
      {Variant(-std::numeric_limits<double>::infinity()), "null"},
      {Variant(std::nan("")), "null"},
      {Variant::Currency(12345), "1.2345"},
      {Date(1899, 12, 30, 0, 0, 0), "\"1899-12-30 00:00:00\""},
      {Date(2023, 12, 31, 23, 59, 59), "\"2023-12-31 23:59:59\""},
      {Variant::Date(1e300), "null"},
      {Variant("tab\there"), "\"tab\\there\""},
      {Arr({Arr({Variant(1), Variant(2)}), Variant("x"), Variant()}), "[[1,2],\"x\",null]"},
      {Variant(SafeArray(VT_VARIANT, {{0, 2}, {0, 2}, {0, 2}})),
       "[[[null,null],[null,null]],[[null,null],[null,null]]]"},
      {Variant(SafeArray(VT_I4, 5, 2)), "[0,0]"},
  };
  for (const auto& c : cases) EXPECT_EQ(ValueJson(c.value), c.json) << c.value;
}

TEST(ReplyOutput, MalformedRepliesGiveAnErrorLine) {
  const struct {
    Variant reply;
    const char* text;
    const char* json;
  } cases[] = {
      {Variant(), "malformed reply: expected an array of 6 elements, got EMPTY",
       R"({"error":"malformed reply: expected an array of 6 elements, got EMPTY"})"},
      {Variant(std::int32_t{5}), "malformed reply: expected an array of 6 elements, got I4 5",
       R"({"error":"malformed reply: expected an array of 6 elements, got I4 5"})"},
      {Arr({Variant(1), Variant(2), Variant(3), Variant(4), Variant(5)}),
       "malformed reply: expected an array of 6 elements, got ARRAY(VARIANT)[0..4]{I4 1, I4 2, "
       "I4 3, I4 4, I4 5}",
       R"({"error":"malformed reply: expected an array of 6 elements, )"
       R"(got ARRAY(VARIANT)[0..4]{I4 1, I4 2, I4 3, I4 4, I4 5}"})"},
      {Variant(SafeArray(VT_VARIANT, {{0, 2}, {0, 3}})),
       "malformed reply: expected an array of 6 elements, got ARRAY(VARIANT)[0..1][0..2]{EMPTY, "
       "EMPTY, EMPTY, EMPTY, EMPTY, EMPTY}",
       R"({"error":"malformed reply: expected an array of 6 elements, )"
       R"(got ARRAY(VARIANT)[0..1][0..2]{EMPTY, EMPTY, EMPTY, EMPTY, EMPTY, EMPTY}"})"},
      {Arr({Variant(2), Variant("one\ntwo"), Variant(1), Variant(3), Variant(), Variant(0)}),
       "malformed reply: element 1 (qid) is not an integer: BSTR \"one two\"",
       R"({"error":"malformed reply: element 1 (qid) is not an integer: BSTR \"one two\""})"},
      {Arr({Variant(2), Variant(1), Variant(1), Variant(3), Variant(), Arr({Variant(0)})}),
       "malformed reply: element 5 (result) is not an integer: ARRAY(VARIANT)[0..0]{I4 0}",
       R"({"error":"malformed reply: element 5 (result) )"
       R"(is not an integer: ARRAY(VARIANT)[0..0]{I4 0}"})"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatReplyText(c.reply), c.text);
    EXPECT_EQ(FormatReplyJson(c.reply), c.json);
  }
}

// A reply as the server makes it from a device's answer, through the request tarvoctl built.
TEST(ReplyOutput, DecodedAnswerEndToEnd) {
  const CtlOptions o = ParseCtlOptions({"--rs232", "COM1", "--addr", "3", "--read-holding",
                                        "100", "--type", "i16,f32", "--qid",
                                        "77", "--json"});
  TModbusSettings s;
  s.DevAddr = 3;
  const TModbusTask t = MakeRequest(RequestArray(o), s);
  ASSERT_FALSE(t.WrongType);
  const std::uint8_t pdu[] = {3, 3, 6, 0xFF, 0xFE, 0x3F, 0xC0, 0x00, 0x00};
  TBaseTransportTask answer;
  TFrameBuf frame{};
  answer.Bufsize = MakeFrame(pdu, sizeof pdu, mmRTU, frame);
  std::copy(frame.begin(), frame.end(), answer.Buf.begin());
  TFrameBuf scratch{};
  Variant reply;
  ASSERT_EQ(Parse(answer, t, scratch, reply), mbcOK);
  EXPECT_EQ(FormatReplyJson(reply),
            R"({"call":2,"qid":77,"addr":3,"fn":3,"result":0,)"
            R"("result_text":"mbcOK","value":[-2,1.5]})");
}

}  // namespace
}  // namespace tarvo::ctl
