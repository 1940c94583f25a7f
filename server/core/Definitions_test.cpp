#include <gtest/gtest.h>

#include "server/core/Definitions.h"
#include "server/core/MasterProps.h"
#include "server/core/ReplyArray.h"

namespace tarvo {
namespace {

TEST(Definitions, DisplayNames) {
  EXPECT_EQ(TransportTypeName(ttRS232), "RS232");
  EXPECT_EQ(TransportTypeName(ttRS485), "RS485");
  EXPECT_EQ(TransportTypeName(ttModem), "Модемное соединение");
  EXPECT_EQ(TransportTypeName(ttTFTP), "TrivialFTP");
  EXPECT_EQ(TransportTypeName(ttUSB), "USB");
  EXPECT_EQ(TransportTypeName(5), "");
  EXPECT_EQ(MasterTypeName(mtMB), "Modbus");
  EXPECT_EQ(MasterTypeName(mtBB), "Bitbus");
  EXPECT_EQ(ResultName(mbcIDA), "mbcIDA");
  EXPECT_EQ(ResultName(mbcWrongArchTime), "mbcWrongArchTime");
  EXPECT_EQ(ResultName(20), "");
}

TEST(ReplyArray, ElementTypesAndValueRules) {
  struct Case {
    std::uint8_t callType, devAddr;
    std::int32_t result;
    VarType valueVt, resultVt;
  } cases[] = {
      {mbReadHoldRegs, 1, mbcOK, VT_UI2, VT_I4},
      {mbReadHoldRegs, 1, mbcNoAnswer, VT_EMPTY, VT_I4},
      {mbReadHoldRegs, 1, mbcWrongType, VT_EMPTY, VT_UI1},
      {mbReadHoldRegs, 1, mbcNoTransport, VT_NULL, VT_UI1},
      {mbReadHoldRegs, 0, mbcOK, VT_EMPTY, VT_I4},  // broadcast: nothing came back
      {mbWriteHoldRegs, 1, mbcOK, VT_EMPTY, VT_I4},
      {mbWriteHoldCoils, 1, mbcOK, VT_EMPTY, VT_I4},
  };
  for (const Case& c : cases) {
    Variant r = MakeReply(c.callType, -5, c.devAddr, 3, Variant(std::uint16_t{7}), c.result);
    const SafeArray& a = r.Array();
    ASSERT_EQ(a.Lower(), 0);
    ASSERT_EQ(a.Count(), 6u);
    EXPECT_EQ(a.At(riCallType), Variant(c.callType));
    EXPECT_EQ(a.At(riQID), Variant(std::int32_t{-5}));
    EXPECT_EQ(a.At(riDevAddr), Variant(c.devAddr));
    EXPECT_EQ(a.At(riFunNum), Variant(std::uint8_t{3}));
    EXPECT_EQ(a.At(riValue).vt(), c.valueVt) << int(c.callType) << " " << c.result;
    EXPECT_EQ(a.At(riResult).vt(), c.resultVt) << c.result;
    EXPECT_EQ(a.At(riResult).ToInt32(), c.result);
  }
}

Variant Props(std::vector<Variant> items) { return Variant(SafeArray::Of(VT_VARIANT, std::move(items))); }

TEST(MasterProps, ReadsElementsOneToSix) {
  Variant p = Props({Variant(0), Variant(0x1F7), Variant(1), Variant("2"), Variant(3), Variant(true),
                     Variant(false)});
  EXPECT_EQ(ReadMasterType(p), 0);
  TModbusSettings s = ReadModbusSettings(p);
  EXPECT_EQ(s.DevAddr, 0xF7);  // low 8 bits kept
  EXPECT_EQ(s.Mode, mmASCII);
  EXPECT_EQ(s.Parity, mpEven);
  EXPECT_EQ(s.Retries, 3);
  EXPECT_TRUE(s.AdjustToWord);
  EXPECT_FALSE(s.OptimalUseFunction);
}

TEST(MasterProps, RefusesWhatCannotBeRead) {
  const Variant good[] = {Variant(0), Variant(1), Variant(0), Variant(0), Variant(1), Variant(false),
                          Variant(false)};
  auto with = [&](int k, Variant v) {
    std::vector<Variant> items(std::begin(good), std::end(good));
    items[k] = std::move(v);
    return Props(items);
  };
  EXPECT_THROW(ReadModbusSettings(with(2, Variant(2))), VariantError);   // no such framing
  EXPECT_THROW(ReadModbusSettings(with(3, Variant(3))), VariantError);   // no such parity
  EXPECT_THROW(ReadModbusSettings(with(4, Variant(-1))), VariantError);  // negative attempts
  EXPECT_THROW(ReadModbusSettings(with(5, Variant("maybe"))), VariantError);
  EXPECT_THROW(ReadModbusSettings(Props({Variant(0), Variant(1)})), VariantError);
  EXPECT_THROW(ReadModbusSettings(Variant(5)), VariantError);
  SafeArray fromOne(VT_VARIANT, 1, 7);
  EXPECT_THROW(ReadModbusSettings(Variant(fromOne)), VariantError);
  EXPECT_THROW(ReadMasterType(Variant(SafeArray(VT_VARIANT, {{0, 7}, {0, 1}}))), VariantError);
}

}  // namespace
}  // namespace tarvo
