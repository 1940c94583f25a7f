#include "server/modbus/ModbusRequest.h"

#include <gtest/gtest.h>

#include "platform/variant/OleDate.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/ModbusTestUtil.h"

namespace tarvo {
namespace {

using testing::Arr;
using testing::Req;

TModbusSettings Settings(bool adjust = false, bool optimal = false) {
  TModbusSettings s;
  s.DevAddr = 7;
  s.Mode = mmASCII;
  s.Parity = mpEven;
  s.Retries = 3;
  s.AdjustToWord = adjust;
  s.OptimalUseFunction = optimal;
  return s;
}

Variant Bools(int n) {
  std::vector<Variant> v;
  for (int k = 0; k < n; ++k) v.push_back(Variant(k % 2 == 0));
  return Arr(v);
}

Variant Words(int n) {
  std::vector<Variant> v(n, testing::U16(1));
  return Arr(v);
}

struct RefusalCase {
  const char* name;
  Variant request;
  bool refused;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RequestRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RequestRefusal, RefusesOrAccepts) {
  const RefusalCase& c = GetParam();
  TModbusTask t = MakeRequest(c.request, Settings());
  EXPECT_EQ(t.WrongType, c.refused);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RequestRefusal,
    ::testing::Values(
        RefusalCase{"Regs127", Req({2, 1, 0, 0, int(dtUnsignedWord), 127}), false},
        RefusalCase{"Regs128", Req({2, 1, 0, 0, int(dtUnsignedWord), 128}), true},
        RefusalCase{"Floats63", Req({4, 1, 0, 0, int(dtSingle), 63}), false},
        RefusalCase{"Floats64", Req({4, 1, 0, 0, int(dtSingle), 64}), true},
        RefusalCase{"OneByteType", Req({2, 1, 0, 0, int(dtOneByte), 1}), true},
        RefusalCase{"ThreeByteType", Req({2, 1, 0, 0, int(dtThreeByte), 1}), true},
        RefusalCase{"TypeNotANumber", Req({2, 1, 0, 0, "word", 1}), true},
        RefusalCase{"RecordWithUnsupportedField",
                    Req({2, 1, 0, 0, Arr({int(dtUnsignedWord), int(dtOneByte)}), 1}), true},
        RefusalCase{"CountZero", Req({2, 1, 0, 0, int(dtUnsignedWord), 0}), true},
        RefusalCase{"CountNegative", Req({2, 1, 0, 0, int(dtUnsignedWord), -1}), true},
        RefusalCase{"CountAsString", Req({2, 1, 0, 0, int(dtUnsignedWord), "10"}), false},
        RefusalCase{"CountNotANumber", Req({2, 1, 0, 0, int(dtUnsignedWord), "ten"}), true},
        RefusalCase{"AddressTooLarge", Req({2, 1, 0, 65536, int(dtUnsignedWord), 1}), true},
        RefusalCase{"AddressLargest", Req({2, 1, 0, 65535, int(dtUnsignedWord), 1}), false},
        RefusalCase{"TooShort", Req({2, 1, 0, 0, int(dtUnsignedWord)}), true},
        RefusalCase{"CallType13", Req({13, 1}), true},
        RefusalCase{"CallTypeNegative", Req({-1, 1}), true},
        RefusalCase{"NotAnArray", Variant(2), true},
        RefusalCase{"Write127Words", Req({3, 1, 0, 0, Words(127)}), false},
        RefusalCase{"Write128Words", Req({3, 1, 0, 0, Words(128)}), true},
        RefusalCase{"WriteDouble", Req({3, 1, 0, 0, Variant(1.5)}), true},
        RefusalCase{"WriteString", Req({3, 1, 0, 0, Variant("1")}), true},
        // A Boolean or error value would be counted in the byte count and then not written.
        RefusalCase{"WriteBooleanRegister", Req({3, 1, 0, 0, Variant(true)}), true},
        RefusalCase{"WriteEmptyArray", Req({3, 1, 0, 0, Arr({})}), true},
        RefusalCase{"Coils2040", Req({5, 1, 0, 0, 2040}), false},
        RefusalCase{"Coils2033", Req({5, 1, 0, 0, 2033}), true},
        RefusalCase{"CoilsZero", Req({7, 1, 0, 0, 0}), true},
        RefusalCase{"CoilsNegative", Req({7, 1, 0, 0, -1}), true},
        RefusalCase{"WriteCoilsNone", Req({6, 1, 0, 0, Arr({})}), true},
        RefusalCase{"WriteCoilsString", Req({6, 1, 0, 0, Arr({Variant("on")})}), true},
        RefusalCase{"WriteCoilsIntegers", Req({6, 1, 0, 0, Arr({1, 0, 1})}), false},
        RefusalCase{"WriteCoils2040", Req({6, 1, 0, 0, Bools(2040)}), false},
        RefusalCase{"WriteCoils2041", Req({6, 1, 0, 0, Bools(2041)}), true},
        RefusalCase{"ArchiveRecord255",
                    Req({9, 1, 1, 1, 0, Arr(std::vector<Variant>(127, int(dtUnsignedWord)))}), false},
        RefusalCase{"ArchiveRecordTooLong",
                    Req({9, 1, 1, 1, 0, Arr(std::vector<Variant>(128, int(dtUnsignedWord)))}), true},
        RefusalCase{"ArchiveNumberTooLarge", Req({9, 1, 65536, 1, 0, int(dtUnsignedWord)}), true},
        RefusalCase{"TimeArchiveMonth256",
                    Req({8, 1, 1, 1, 26, 256, 1, 0, 0, 0, int(dtUnsignedWord)}), true},
        RefusalCase{"ExchangeWithoutDataArray", Req({0, 1, 1, 3, 0, 5}), true},
        RefusalCase{"ExchangeWithTextByte", Req({0, 1, 1, 3, 0, Arr({Variant("x")})}), true},
        RefusalCase{"ExchangeEmptyData", Req({0, 1, 1, 3, 0, Arr({})}), false},
        RefusalCase{"ExchangeAddress256", Req({0, 1, 256, 3, 0, Arr({})}), true},
        RefusalCase{"DiagnosticsData65536", Req({11, 1, 0, 0, 65536}), true}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(Request, RefusedRequestKeepsWhatWasRead) {
  // Call type and QID are echoed in the result-15 reply, so the client can match it.
  TModbusTask t = MakeRequest(Req({13, 42}), Settings());
  EXPECT_TRUE(t.WrongType);
  EXPECT_EQ(t.CallType, 13);
  EXPECT_EQ(t.QID, 42);
  Variant reply = MakeReply(t, Variant(), mbcWrongType);
  EXPECT_EQ(reply.Array().At(riCallType), testing::U8(13));
  EXPECT_EQ(reply.Array().At(riQID), Variant(42));
  EXPECT_EQ(reply.Array().At(riResult), testing::U8(15));

  // An array from 1 has no element 0: nothing can be read.
  SafeArray fromOne(VT_VARIANT, 1, 6);
  for (int k = 1; k <= 6; ++k) fromOne.Set(k, Variant(2));
  TModbusTask u = MakeRequest(Variant(fromOne), Settings());
  EXPECT_TRUE(u.WrongType);
  EXPECT_EQ(u.CallType, 0);
  EXPECT_EQ(u.QID, 0);
}

TEST(Request, FunctionsSizesAndCopiedSettings) {
  struct Case {
    Variant request;
    bool adjust, optimal;
    int fun, dataSize, dataCount, reminder;
  } cases[] = {
      {Req({2, 1, 0, 0, int(dtUnsignedWord), 10}), false, false, 3, 2, 10, 0},
      {Req({4, 1, 0, 0, int(dtUnsignedByte), 3}), false, false, 4, 1, 3, 1},
      {Req({4, 1, 0, 0, int(dtUnsignedByte), 3}), true, false, 4, 2, 3, 0},
      {Req({2, 1, 0, 0, Arr({int(dtUnsignedWord), int(dtSingle)}), 2}), false, false, 3, 6, 2, 0},
      {Req({3, 1, 0, 0, testing::U16(5)}), false, true, 6, 2, 1, 0},
      {Req({3, 1, 0, 0, testing::U16(5)}), false, false, 16, 2, 1, 0},
      {Req({3, 1, 0, 0, Arr({testing::U8(1), testing::U8(2), testing::U8(3)})}), false, true, 16, 3, 1, 1},
      {Req({3, 1, 0, 0, testing::U8(1)}), true, true, 6, 2, 1, 0},
      {Req({5, 1, 0, 0, 9}), false, false, 1, 2, 9, 1},
      {Req({7, 1, 0, 0, 16}), false, false, 2, 2, 16, 0},
      {Req({6, 1, 0, 0, Variant(true)}), false, true, 5, 1, 1, 1},
      {Req({6, 1, 0, 0, Arr({Variant(true)})}), false, false, 15, 1, 1, 1},
      {Req({6, 1, 0, 0, Bools(9)}), false, true, 15, 2, 9, 1},
      {Req({9, 1, 1, 4, 0, Arr({int(dtUnsignedDoubleWord), int(dtSingle)})}), false, false, 65, 8, 4, 0},
      {Req({1, 1}), false, false, 17, 0, 0, 0},
      {Req({10, 1, 0}), false, false, 7, 0, 0, 0},
      {Req({11, 1, 0, 0, 0x1234}), false, false, 8, 0, 0, 0},
      {Req({0, 1, 9, 0x2B, 0, Arr({0x0E})}), false, false, 0x2B, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.Describe());
    TModbusTask t = MakeRequest(c.request, Settings(c.adjust, c.optimal));
    ASSERT_FALSE(t.WrongType);
    EXPECT_EQ(t.FunNum, c.fun);
    EXPECT_EQ(t.DataSize, c.dataSize);
    EXPECT_EQ(t.DataCount, c.dataCount);
    EXPECT_EQ(t.DataReminder, c.reminder);
    EXPECT_EQ(t.TaskType, mtForm);
    EXPECT_EQ(t.DevAddr, t.CallType == mbExchange ? 9 : 7);
    EXPECT_EQ(t.Mode, mmASCII);
    EXPECT_EQ(t.Parity, mpEven);
    EXPECT_EQ(t.Retries, 3);
    EXPECT_EQ(t.FRetriesLeft, 3);
  }
}

TEST(Request, PeriodsAddressesAndArchiveTimes) {
  TModbusTask t = MakeRequest(Req({2, -9, "1000", 16, int(dtSignedWord), 1}),
                              Settings());
  ASSERT_FALSE(t.WrongType);
  EXPECT_EQ(t.QID, -9);
  EXPECT_EQ(t.Period, 1000u);
  EXPECT_EQ(t.RegAddr, 16u);

  // Periods are clamped, never wrapped into a near-endless wait.
  EXPECT_EQ(MakeRequest(Req({10, 1, -5}), Settings()).Period, 0u);
  EXPECT_EQ(MakeRequest(Req({10, 1, Variant(std::int64_t{10000000000})}), Settings()).Period,
            kMaxPeriodMs);

  // Archive reads are always one-shot; the time archive takes its fields from the date.
  const double when = EncodeOleDate({2026, 12, 11, 10, 20, 30, 400});
  TModbusTask a = MakeRequest(
      Req({12, 1, 2, 3, Variant::Date(when), Arr({int(dtUnsignedDoubleWord), int(dtUnsignedWord)}), 0, 0}),
      Settings());
  ASSERT_FALSE(a.WrongType);
  EXPECT_EQ(a.Period, 0u);
  EXPECT_EQ(a.ArchNum, 2);
  EXPECT_EQ(a.ArchCount, 3);
  EXPECT_EQ(a.DataCount, 3);
  EXPECT_EQ(a.DataSize, 6);
  EXPECT_EQ(a.ArchYear, 26);
  EXPECT_EQ(a.ArchMonth, 12);
  EXPECT_EQ(a.ArchDay, 11);
  EXPECT_EQ(a.ArchHour, 10);
  EXPECT_EQ(a.ArchMin, 20);
  EXPECT_EQ(a.ArchSek, 30);
  EXPECT_EQ(a.ArchTime, when);
  EXPECT_EQ(a.ArchTimeFieldIndex, 0);
}

}  // namespace
}  // namespace tarvo
