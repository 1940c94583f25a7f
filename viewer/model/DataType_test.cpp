#include "viewer/model/DataType.h"

#include <gtest/gtest.h>

#include <optional>

#include "viewer/model/DocStream.h"
#include "viewer/model/testing/HexBytes.h"

namespace tarvo {
namespace {

using testing::Hex;

TDataUnit Unit(std::int32_t item, std::uint8_t type, std::uint8_t code = 0) {
  TDataUnit u;
  u.ItemIndex = item;
  u.FrmtType = type;
  u.FrmtCode = code;
  return u;
}

// One item of the type shown by one unit, in a one-shot read-write register frame.
TDataType Single(VarType vt, TDataUnit unit, std::uint8_t frameKind = kFrameStruct) {
  TDataType d;
  d.FrameKind = frameKind;
  d.Empty = false;
  d.ItemCount = 1;
  d.ItemTypes = Variant(static_cast<std::int32_t>(vt));
  d.DataUnits = {std::move(unit)};
  return d;
}

struct FormatCase {
  Variant raw;
  std::uint8_t type, code;
  const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
  *os << c.raw << " type " << int(c.type) << " code " << int(c.code);
}

class FormatValueTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatValueTest, GoldenText) {
  const FormatCase& c = GetParam();
  const TDataType d = Single(c.raw.vt(), Unit(0, c.type, c.code));
  EXPECT_EQ(d.FormatValue(c.raw, 0), c.text);
}

const Variant kW(std::uint16_t{1234});
const Variant kT(std::uint32_t{1709251199});  // 2024-02-29 23:59:59
const Variant kF(-12.345);

INSTANTIATE_TEST_SUITE_P(
    Codes, FormatValueTest,
    ::testing::Values(
        // Display types 0, 1, 2
        FormatCase{Variant(std::int16_t{-1}), 0, 0, "-1"}, FormatCase{Variant(std::int16_t{-1}), 1, 0, "$FFFF"},
        FormatCase{Variant(std::int16_t{-1}), 2, 0, "1111111111111111b"},
        FormatCase{Variant(1.5f), 1, 0, "$000000003FC00000"}, FormatCase{Variant(0.1), 0, 0, "0.1"},
        FormatCase{Variant(true), 0, 0, "True"},
        // Numeric codes on an integer: formatted as a float
        FormatCase{kW, 3, 0, "1234"}, FormatCase{kW, 3, 5, "  1234"}, FormatCase{kW, 3, 8, "     1234"},
        FormatCase{kW, 3, 9, "1234"}, FormatCase{kW, 3, 10, "1234.0"}, FormatCase{kW, 3, 12, "1234.000"},
        FormatCase{kW, 3, 18, "1234.000000000"}, FormatCase{kW, 3, 19, "1234.00"},
        FormatCase{kW, 3, 20, "1E+003"}, FormatCase{kW, 3, 23, "1.234E+003"},
        FormatCase{kW, 3, 28, "1.23400000E+003"}, FormatCase{kW, 3, 29, "1.23400000000000E+003"},
        FormatCase{kW, 3, 30, "$4D2"}, FormatCase{kW, 3, 31, "0x4D2"},
        FormatCase{Variant(std::int16_t{-1}), 3, 30, "$FFFFFFFF"},
        FormatCase{Variant(std::int16_t{-5}), 3, 11, "-5.00"},
        FormatCase{Variant(std::uint32_t{4294967295u}), 3, 9, "4294967295"},
        // Calendar codes
        FormatCase{kT, 3, 32, "29/02/24 23:59:59"}, FormatCase{kT, 3, 33, "02/29/24 23:59:59"},
        FormatCase{kT, 3, 34, "29/02/2024"}, FormatCase{kT, 3, 35, "02/29/2024"},
        FormatCase{kT, 3, 36, "29/02/24"}, FormatCase{kT, 3, 37, "02/29/24"}, FormatCase{kT, 3, 38, "23:59:59"},
        FormatCase{kT, 3, 39, "2024"}, FormatCase{kT, 3, 40, "02"}, FormatCase{kT, 3, 41, "29"},
        FormatCase{kT, 3, 42, "23"}, FormatCase{kT, 3, 43, "59"}, FormatCase{kT, 3, 44, "59"},
        FormatCase{Variant(std::uint32_t{0}), 3, 34, "01/01/1970"},
        // Durations and unknown codes
        FormatCase{Variant(std::uint32_t{93784}), 3, 45, "1  2:3:4"},
        FormatCase{Variant(std::uint32_t{3725}), 3, 46, "1:2:5"},
        FormatCase{Variant(std::uint32_t{90000}), 3, 46, "25:0:0"}, FormatCase{kW, 3, 47, ""},
        // Floats
        FormatCase{kF, 3, 0, "-12"}, FormatCase{kF, 3, 11, "-12.35"}, FormatCase{kF, 3, 19, "-12.35"},
        FormatCase{kF, 3, 22, "-1.23E+001"}, FormatCase{Variant(2.5f), 3, 12, "2.500"},
        FormatCase{kF, 3, 30, "Ошибка формата"}, FormatCase{kF, 3, 31, "Ошибка формата"},
        FormatCase{kF, 3, 32, "Ошибка формата: дата должна быть числом целого типа"},
        FormatCase{Variant(false), 3, 0, "False"},
        // Enumeration without names, display types out of range
        FormatCase{kW, 4, 0, "Ошибка формата: Индекс вышел за пределы списка"},
        FormatCase{kW, 5, 0, "DataUnits[Index].FrmtType вне границ [0..4]"}));

TEST(FormatValueTest, EnumerationNamesByTruncatedIndex) {
  TDataUnit u = Unit(0, 4);
  u.EnumNames = {"Нет", "Да", "Авария"};
  const TDataType d = Single(VT_R4, u);
  const std::pair<Variant, const char*> cases[] = {
      {Variant(0.0f), "Нет"}, {Variant(1.9f), "Да"}, {Variant(2.0f), "Авария"},
      {Variant(3.0f), "Ошибка формата: Индекс вышел за пределы списка"},
      {Variant(-0.5f), "Ошибка формата: Индекс вышел за пределы списка"}};
  for (const auto& [raw, text] : cases) EXPECT_EQ(d.FormatValue(raw, 0), text) << raw;
}

TEST(FormatValueTest, BitDescriptions) {
  TDataUnit u = Unit(0, 1);
  u.Units = "Вкл";
  u.ReadFormula = "Выкл";
  TDataType d = Single(VT_UI2, u, kFrameBit);
  EXPECT_EQ(d.FormatValue(Variant(true), 0), "Вкл");
  EXPECT_EQ(d.FormatValue(Variant(false), 0), "Выкл");
  d.DataUnits[0].FrmtType = 0;
  EXPECT_EQ(d.FormatValue(Variant(true), 0), "1");
  EXPECT_EQ(d.FormatValue(Variant(std::uint16_t{0}), 0), "0");
  d.DataUnits[0].FrmtType = 2;
  EXPECT_EQ(d.FormatValue(Variant(true), 0), "DataUnits[Index].FrmtType вне границ [0..1]");
  EXPECT_EQ(d.FormatValue(Variant("not a bit"), 0), "Ошибка формата");
  EXPECT_EQ(d.FormatValue(Variant(true), 5), "Ошибка формата");
}

TEST(FormatValueTest, ReadFormulasAndTheirFailures) {
  TDataUnit u = Unit(0, 3, 11);
  u.UseFormula = true;
  u.ReadFormula = "r/10";
  TDataType d = Single(VT_UI2, u);
  d.ReadValues = Variant(std::uint16_t{123});
  EXPECT_EQ(d.GetEngValue(d.ReadValues, 0), Variant(12.3));
  EXPECT_EQ(d.FormatValue(d.ReadValues, 0), "12.30");
  // An integer formula result shows in hexadecimal at its full width instead of an error.
  d.DataUnits[0] = Unit(0, 1);
  d.DataUnits[0].UseFormula = true;
  d.DataUnits[0].ReadFormula = "r and $FF";
  EXPECT_EQ(d.FormatValue(d.ReadValues, 0), "$000000000000007B");
  d.DataUnits[0].FrmtType = 3;
  d.DataUnits[0].FrmtCode = 30;
  EXPECT_EQ(d.FormatValue(d.ReadValues, 0), "$7B");
  // A formula that fails shows the raw value.
  d.DataUnits[0].ReadFormula = "r/0";
  EXPECT_EQ(d.GetEngValue(Variant(std::uint16_t{7}), 0), Variant(std::uint16_t{7}));
  // Read-only frames give formulas no write values.
  d.DataUnits[0].ReadFormula = "w+1";
  d.WriteValues = Variant(std::uint16_t{41});
  EXPECT_EQ(d.GetEngValue(Variant(std::uint16_t{7}), 0), Variant(std::int64_t{42}));
  d.FrameKind = kFrameROStruct;
  EXPECT_EQ(d.GetEngValue(Variant(std::uint16_t{7}), 0), Variant(std::uint16_t{7}));
}

struct UnitTextCase {
  VarType vt;
  std::uint8_t type, code;
  const char* text;
  std::optional<Variant> value;
};

void PrintTo(const UnitTextCase& c, std::ostream* os) {
  *os << "'" << c.text << "' vt " << c.vt << " type " << int(c.type) << " code " << int(c.code);
}

class ParseUnitTextTest : public ::testing::TestWithParam<UnitTextCase> {};

TEST_P(ParseUnitTextTest, AcceptsWhatTheFormatKindAllows) {
  const UnitTextCase& c = GetParam();
  const TDataType d = Single(c.vt, Unit(0, c.type, c.code));
  Variant v;
  const bool ok = d.ParseUnitText(c.text, c.vt, 0, v);
  ASSERT_EQ(ok, c.value.has_value()) << v;
  if (ok) {
    EXPECT_EQ(v, *c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseUnitTextTest,
    ::testing::Values(
        UnitTextCase{VT_UI2, 1, 0, "ff", std::nullopt}, UnitTextCase{VT_UI2, 1, 0, "ffh", Variant(std::uint16_t{255})},
        UnitTextCase{VT_UI2, 1, 0, "$FF", Variant(std::uint16_t{255})},
        UnitTextCase{VT_UI2, 1, 0, "0xff", Variant(std::uint16_t{255})},
        UnitTextCase{VT_UI2, 3, 31, "0xff", Variant(std::uint16_t{255})},
        UnitTextCase{VT_I2, 1, 0, "$8000", std::nullopt}, UnitTextCase{VT_UI2, 1, 0, "$8000", Variant(std::uint16_t{32768})},
        UnitTextCase{VT_UI2, 0, 0, "$10", std::nullopt}, UnitTextCase{VT_UI2, 1, 0, "101b", std::nullopt},
        UnitTextCase{VT_UI2, 2, 0, "101b", Variant(std::uint16_t{5})}, UnitTextCase{VT_UI2, 2, 0, "101", std::nullopt},
        UnitTextCase{VT_UI1, 0, 0, "256", std::nullopt}, UnitTextCase{VT_UI1, 0, 0, "-1", std::nullopt},
        UnitTextCase{VT_UI4, 0, 0, "4294967295", Variant(std::uint32_t{4294967295u})},
        UnitTextCase{VT_UI4, 0, 0, "4294967296", std::nullopt},
        UnitTextCase{VT_R8, 3, 12, "1,25", Variant(1.25)}, UnitTextCase{VT_UI2, 0, 0, "x5", std::nullopt},
        UnitTextCase{VT_UI2, 0, 0, "", std::nullopt},
        UnitTextCase{VT_UI4, 0, 0, "d01/01/1970", std::nullopt},  // no "d" marker here
        UnitTextCase{VT_UI4, 3, 34, "01/01/1970", Variant(std::uint32_t{0})},
        UnitTextCase{VT_UI4, 3, 32, "29/02/24 23:59:59", Variant(std::uint32_t{1709251199})},
        UnitTextCase{VT_UI4, 3, 33, "02/29/24 23:59:59", Variant(std::uint32_t{1709251199})},
        UnitTextCase{VT_UI4, 3, 38, "00:01:05", Variant(std::uint32_t{65})},
        UnitTextCase{VT_UI4, 3, 39, "2000", Variant(std::uint32_t{946684800})},
        UnitTextCase{VT_I4, 3, 34, "01/01/1970", std::nullopt},
        UnitTextCase{VT_UI4, 3, 34, "01/01/1969", std::nullopt},
        UnitTextCase{VT_UI4, 3, 45, "1:2:3:4", Variant(std::uint32_t{93784})},
        UnitTextCase{VT_UI4, 3, 45, "1  2:3:4", std::nullopt},
        UnitTextCase{VT_UI4, 3, 46, "1:2:5", Variant(std::uint32_t{3725})},
        UnitTextCase{VT_UI4, 3, 46, "1:2:3:4", std::nullopt},
        UnitTextCase{VT_R4, 3, 46, "1:2:3", std::nullopt},
        UnitTextCase{VT_UI4, 3, 46, "$10", std::nullopt},
        UnitTextCase{VT_BOOL, 0, 0, "true", Variant(true)}));

// Two items (UI2 with a float formula, R4 as an enumeration) as stored, byte for byte.
const char* const kStoredHex =
    "02000000 02000000 01"
    " 01000000 01000000 00000000 03000000 12000000 00000000 03000000 04000000"
    " 01000000 01000000 00000000 12000000 7b00 00000000 04000000 0000c03f"
    " 00000000 00 03 0b 01000000 54 02000000 b043 01 04000000 722f3130 04000000 772a3130 00000000"
    " 01000000 01 04 00 00000000 00000000 00 00000000 00000000 02000000 03000000 c2eaeb 04000000 c2fbeaeb";

TDataType Stored() {
  TDataType d;
  d.Empty = false;
  d.Writable = true;
  d.ItemCount = 2;
  d.ItemTypes = Variant(SafeArray::Of(VT_I4, {Variant(18), Variant(4)}));
  d.DefaultValues = Variant(SafeArray::Of(VT_VARIANT, {Variant(std::uint16_t{123}), Variant(1.5f)}));
  TDataUnit t = Unit(0, 3, 11);
  t.Name = "T";
  t.Units = "°C";
  t.UseFormula = true;
  t.ReadFormula = "r/10";
  t.WriteFormula = "w*10";
  TDataUnit e = Unit(1, 4);
  e.Hidden = true;
  e.EnumNames = {"Вкл", "Выкл"};
  d.DataUnits = {t, e};
  return d;
}

TEST(DataTypeStreamTest, LayoutByteForByteAndBack) {
  TDocStream out;
  Stored().SaveToStream(out);
  EXPECT_EQ(out.Bytes(), Hex(kStoredHex));

  TDocStream in(Hex(kStoredHex));
  TDataType d;
  d.LoadFromStream(in);
  EXPECT_EQ(in.Remaining(), 0u);
  const TDataType want = Stored();
  EXPECT_FALSE(d.Empty);
  EXPECT_TRUE(d.Writable);
  EXPECT_EQ(d.ItemCount, 2);
  EXPECT_EQ(d.ItemTypes, want.ItemTypes);
  EXPECT_EQ(d.DefaultValues, want.DefaultValues);
  EXPECT_EQ(d.DataUnits, want.DataUnits);
  TDocStream again;
  d.SaveToStream(again);
  EXPECT_EQ(again.Bytes(), Hex(kStoredHex));
}

TEST(DataTypeStreamTest, EmptyDescriptionIsOneCount) {
  TDocStream out;
  TDataType().SaveToStream(out);
  EXPECT_EQ(out.Bytes(), Hex("00000000"));
  // A description marked empty never writes a count that makes units look present.
  TDataType stale = Stored();
  stale.Empty = true;
  TDocStream out2;
  stale.SaveToStream(out2);
  EXPECT_EQ(out2.Bytes(), Hex("00000000"));

  TDocStream in(Hex("ffffffff 12345678"));
  TDataType d = Stored();
  d.LoadFromStream(in);
  EXPECT_TRUE(d.Empty);
  EXPECT_TRUE(d.DataUnits.empty());
  EXPECT_EQ(in.Position(), 4u);
}

TEST(DataTypeStreamTest, MapArraysBecomeZeroBasedIntegers) {
  // A map stored with lower bound 0 of UI1 codes and one extra element.
  TDocStream in(Hex("02000000 00000000 00"
                    " 01000000 02000000 00000000 11000000 02 00000000 11000000 13 00000000 11000000 02"
                    " 00000000 00000000"));
  TDataType d;
  d.LoadFromStream(in);
  EXPECT_EQ(d.ItemTypes, Variant(SafeArray::Of(VT_I4, {Variant(2), Variant(19)})));
}

TEST(DataTypeStreamTest, DamagedStreamsRaiseAndLeaveTheDescription) {
  const std::pair<const char*, const char*> cases[] = {
      {"02000000 01000000", "Stream read error"},                       // ends in the middle
      {"02000000 ffffff7f 00 00000000 00000000", "7 data units"},      // hostile unit count
      {"02000000 ffffffff 00 00000000 00000000", "-1 data units"},
      {"02000000 00000000 00 01000000 00000000 00000000 03000000 12000000 00000000 00000000",
       "an item type map of 1 codes for 2 items"},
      {"01001000 00000000 00 00000000 03000000 12000000 00000000 00000000", "1048577 items"},
      {"01000000 01000000 00 00000000 03000000 12000000 00000000 00000000"
       " 00000000 00 00 00 00000000 00000000 00 00000000 00000000 ffffff0f",
       "names"},
  };
  for (const auto& [hex, text] : cases) {
    TDocStream in(Hex(hex));
    TDataType d = Stored();
    try {
      d.LoadFromStream(in);
      ADD_FAILURE() << hex;
    } catch (const EDocStreamError& e) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
    EXPECT_EQ(d.DataUnits, Stored().DataUnits) << hex;
  }
}

TEST(DataTypeLoadTest, DerivesReadAndWriteValues) {
  TDocStream in(Hex(kStoredHex));
  TDataType d;
  d.LoadFromStream(in);
  EXPECT_EQ(d.ReadValues, d.DefaultValues);
  // The float formula unit keeps its engineering value as a float: 12.3, not 12.
  EXPECT_EQ(d.WriteValues, Variant(SafeArray::Of(VT_VARIANT, {Variant(12.3), Variant(1.5f)})));
  // So the default goes back to the device unchanged through the write formula.
  EXPECT_EQ(d.BuildWriteValue(), d.DefaultValues);
  EXPECT_EQ(d.FormatValue(ElementOf(d.ReadValues, 0), 0), "12.30");
  EXPECT_EQ(d.FormatValue(ElementOf(d.ReadValues, 1), 1), "Выкл");
}

TEST(DataTypeLoadTest, BitFramesReadDefaultsAsBooleans) {
  const std::string body =
      " 01000000 00 00000000 03000000 12000000"
      " 01000000 02000000 00000000 12000000 0000 00000000 12000000 0500 00000000 12000000 0100"
      " 00000000 00 00 00 00000000 00000000 00 00000000 00000000 00000000";
  for (std::uint8_t kind : {kFrameBit, kFrameBitPeriod, kFrameROBit, kFrameStruct}) {
    TDocStream in(Hex("03000000" + body));
    TDataType d;
    d.FrameKind = kind;
    d.LoadFromStream(in);
    const bool bits = kind == kFrameBit || kind == kFrameBitPeriod;
    EXPECT_EQ(d.ReadValues.vt(), bits ? (VT_ARRAY | VT_BOOL) : (VT_ARRAY | VT_VARIANT)) << int(kind);
    if (bits) {
      EXPECT_EQ(d.ReadValues.Array().Flat(0), Variant(false));
      EXPECT_EQ(d.ReadValues.Array().Flat(1), Variant(true));
    }
    EXPECT_EQ(d.WriteValues, Variant(std::uint16_t{0})) << int(kind);
  }
}

TEST(DataTypeLoadTest, ReloadDropsOldNames) {
  TDataType d = Stored();
  TDocStream in(Hex(
      "01000000 01000000 00 00000000 03000000 12000000 00000000 12000000 0700"
      " 00000000 00 04 00 00000000 00000000 00 00000000 00000000 00000000"));
  d.LoadFromStream(in);
  ASSERT_EQ(d.UnitCount(), 1);
  EXPECT_TRUE(d.DataUnits[0].EnumNames.empty());
  EXPECT_EQ(d.WriteValues, Variant(std::uint16_t{7}));
  EXPECT_EQ(d.BuildWriteValue(), Variant(std::uint16_t{7}));
}

TEST(DataTypeWriteTest, SetAndBuildWriteValues) {
  TDataType d = Stored();
  d.ReadValues = d.DefaultValues;
  d.WriteValues = Variant();
  EXPECT_TRUE(d.SetWriteValue(Variant(std::int64_t{20}), 0));  // float formula: held as R8
  EXPECT_TRUE(d.SetWriteValue(Variant(2.75), 1));               // R4 item
  EXPECT_FALSE(d.SetWriteValue(Variant(1), 2));
  EXPECT_FALSE(d.SetWriteValue(Variant("abc"), 1));
  EXPECT_EQ(d.WriteValues, Variant(SafeArray::Of(VT_VARIANT, {Variant(20.0), Variant(2.75f)})));
  EXPECT_EQ(d.BuildWriteValue(), Variant(SafeArray::Of(VT_VARIANT, {Variant(std::uint16_t{200}), Variant(2.75f)})));
  // A write formula that fails sends the entered value cast to the item's type.
  d.DataUnits[0].WriteFormula = "w/0";
  EXPECT_EQ(d.BuildWriteValue().Array().Flat(0), Variant(std::uint16_t{20}));
  // An item no unit shows is written back as read.
  d.DataUnits[1].ItemIndex = 5;
  d.ReadValues = Variant(SafeArray::Of(VT_VARIANT, {Variant(std::uint16_t{1}), Variant(-3.5)}));
  EXPECT_EQ(d.BuildWriteValue().Array().Flat(1), Variant(-3.5f));

  TDataType one = Single(VT_I2, Unit(0, 0));
  EXPECT_TRUE(one.SetWriteValue(Variant(70000.0), 0));
  EXPECT_EQ(one.BuildWriteValue(), Variant(std::int16_t{4464}));
  one.DataUnits.clear();
  one.ReadValues = Variant(std::uint16_t{9});
  EXPECT_EQ(one.BuildWriteValue(), Variant(std::int16_t{9}));
  EXPECT_TRUE(TDataType().BuildWriteValue().IsEmpty());
  TDataType none;
  EXPECT_FALSE(none.SetWriteValue(Variant(1), 0));
  EXPECT_TRUE(none.WriteValues.IsEmpty());
}

TEST(DataTypeUnitsTest, UnitOfItemAndRow) {
  TDataType d;
  d.DataUnits = {Unit(0, 0), Unit(1, 0), Unit(0, 1), Unit(2, 0)};
  d.DataUnits[1].Hidden = true;
  EXPECT_EQ(d.UnitOfItem(0), 0);
  EXPECT_EQ(d.UnitOfItem(2), 3);
  EXPECT_EQ(d.UnitOfItem(4), -1);
  const std::int32_t rows[] = {0, 2, 3, -1};
  for (int r = 0; r < 4; ++r) EXPECT_EQ(d.UnitOfRow(r), rows[r]) << r;
  EXPECT_EQ(d.UnitOfRow(-1), -1);
}

TEST(DataUnitTest, FormatKindAndFloatFormula) {
  struct Case { std::uint8_t type, code; TFormatKind kind; };
  const Case cases[] = {{0, 0, TFormatKind::Decimal}, {1, 0, TFormatKind::Hex},  {2, 0, TFormatKind::Binary},
                        {3, 29, TFormatKind::Decimal}, {3, 30, TFormatKind::Hex}, {3, 31, TFormatKind::Hex},
                        {3, 32, TFormatKind::Calendar}, {3, 44, TFormatKind::Calendar}, {3, 45, TFormatKind::Days},
                        {3, 46, TFormatKind::Hours}, {3, 47, TFormatKind::Decimal}, {4, 0, TFormatKind::Decimal},
                        {9, 0, TFormatKind::Decimal}};
  for (const Case& c : cases) EXPECT_EQ(Unit(0, c.type, c.code).FormatKind(), c.kind) << int(c.type) << "/" << int(c.code);
  for (int code : {9, 10, 29, 30}) {
    TDataUnit u = Unit(0, 3, static_cast<std::uint8_t>(code));
    u.UseFormula = true;
    EXPECT_EQ(u.IsFloatFormula(), code >= 10 && code <= 29) << code;
    u.UseFormula = false;
    EXPECT_FALSE(u.IsFloatFormula());
  }
}

}  // namespace
}  // namespace tarvo
