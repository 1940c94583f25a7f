#include "viewer/model/ValueConv.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/variant/OleDate.h"

namespace tarvo {
namespace {

TEST(CastValueTest, TruncatesAndKeepsLowBitsWithoutRangeChecks) {
  struct Case { Variant in; VarType vt; Variant out; };
  const Case cases[] = {
      {Variant(-1.9), VT_I2, Variant(std::int16_t{-1})},
      {Variant(65537.7), VT_UI2, Variant(std::uint16_t{1})},
      {Variant(std::int32_t{-1}), VT_UI4, Variant(std::uint32_t{0xFFFFFFFF})},
      {Variant(std::int32_t{300}), VT_UI1, Variant(std::uint8_t{44})},
      {Variant(std::int32_t{200}), VT_I1, Variant(std::int8_t{-56})},
      {Variant(std::uint32_t{0x80000000}), VT_I4, Variant(std::int32_t{-2147483647 - 1})},
      {Variant(4294967296.0 + 5), VT_UI4, Variant(std::uint32_t{5})},
      {Variant(-4294967296.0 * 3 - 2), VT_I4, Variant(std::int32_t{-2})},
      {Variant(1e30), VT_UI2, Variant(std::uint16_t{0})},  // 1e30 is a multiple of 2^16
      {Variant(std::numeric_limits<double>::quiet_NaN()), VT_I4, Variant(std::int32_t{0})},
      {Variant(std::numeric_limits<double>::infinity()), VT_UI4, Variant(std::uint32_t{0})},
      {Variant(std::int64_t{0x123456789}), VT_I8, Variant(std::int64_t{0x123456789})},
      {Variant(std::int64_t{9007199254740993}), VT_I8, Variant(std::int64_t{9007199254740993})},
      {Variant(std::uint16_t{7}), VT_R4, Variant(7.0f)},
      {Variant(std::int16_t{-3}), VT_R8, Variant(-3.0)},
      {Variant(0.25), VT_BOOL, Variant(true)},
      {Variant(std::uint16_t{0}), VT_BOOL, Variant(false)},
      {Variant("12"), VT_UI2, Variant(std::uint16_t{12})},
      {Variant(std::int32_t{5}), VT_BSTR, Variant()},
      {Variant(std::int32_t{5}), VT_DATE, Variant()},
  };
  for (const Case& c : cases) EXPECT_EQ(CastValue(c.in, c.vt), c.out) << c.in << " -> " << c.vt;
  EXPECT_THROW(CastValue(Variant("abc"), VT_UI2), VariantError);
}

TEST(ValueTextTest, HexAndBinaryPatternsByType) {
  struct Case { Variant v; const char* hex; const char* bin; };
  const Case cases[] = {
      {Variant(std::int16_t{-1}), "FFFF", "1111111111111111b"},
      {Variant(std::uint16_t{0xAB}), "00AB", "0000000010101011b"},
      {Variant(std::int32_t{-2}), "FFFFFFFE", "11111111111111111111111111111110b"},
      {Variant(std::uint32_t{0x1234ABCD}), "1234ABCD", "00010010001101001010101111001101b"},
      {Variant(std::int8_t{-1}), "FF", "11111111b"},
      {Variant(std::uint8_t{5}), "05", "00000101b"},
      {Variant(1.0f), "000000003F800000", "00111111100000000000000000000000b"},
      {Variant(-2.0), "C000000000000000",
       "1100000000000000000000000000000000000000000000000000000000000000b"},
      {Variant(true), "True", "b"},
      {Variant(false), "False", "b"},
      {Variant(std::int64_t{255}), "00000000000000FF",
       "0000000000000000000000000000000000000000000000000000000011111111b"},
      {Variant("1"), "Данный тип функцией VarToHex не поддерживается", "b"},
      {Variant(), "Данный тип функцией VarToHex не поддерживается", "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValueToHex(c.v), c.hex) << c.v;
    EXPECT_EQ(ValueToBin(c.v), c.bin) << c.v;
  }
}

TEST(DeviceSecondsTest, BothWays) {
  EXPECT_EQ(DeviceSecondsToDateTime(0), kUnixEpochOleDate);
  EXPECT_EQ(DeviceSecondsToDateTime(86400 + 43200), kUnixEpochOleDate + 1.5);
  struct Case { double date; std::uint32_t seconds; };
  const Case cases[] = {
      {kUnixEpochOleDate, 0},
      {kUnixEpochOleDate + 1.5, 129600},
      {kUnixEpochOleDate + 0.4 / 86400, 0},           // 0.4 s rounds down
      {kUnixEpochOleDate + 1.6 / 86400, 2},           // 1.6 s rounds up
      {kUnixEpochOleDate - 0.001, 0},                 // before 1970
      {EncodeOleDate({2106, 2, 7, 6, 28, 15, 0}), 4294967295u},
      {EncodeOleDate({2200, 1, 1, 0, 0, 0, 0}), 4294967295u},  // past what a time stamp holds
      {EncodeOleDate({2024, 2, 29, 23, 59, 59, 0}), 1709251199u},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToDeviceSeconds(c.date), c.seconds) << c.date;
  for (std::uint32_t s : {0u, 59u, 86399u, 951782400u, 4294967295u})
    EXPECT_EQ(DateTimeToDeviceSeconds(DeviceSecondsToDateTime(s)), s);
}

TEST(StrToFloatAnyTest, EitherSeparatorAndBlanks) {
  struct Case { const char* text; char sep; double value; };
  const Case cases[] = {{"1.5", '.', 1.5},     {"1,5", '.', 1.5},    {" -2,25 ", '.', -2.25},
                        {"1,5", ',', 1.5},     {"1.5", ',', 1.5},    {"+3", '.', 3},
                        {"1e3", '.', 1000},    {"2.5E-1", '.', 0.25}, {".5", '.', 0.5}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(StrToFloatAny(c.text, c.sep), c.value) << c.text;
}

TEST(StrToFloatAnyTest, FailuresRaiseTheText) {
  const char* bad[] = {"", " ", "1,2.3", "1.2.3", "abc", "1e", "0x10", "inf", "nan", "1e400", "--1", "1 2"};
  for (const char* text : bad) {
    try {
      StrToFloatAny(text);
      ADD_FAILURE() << text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' - не вещественное число");
    }
  }
  EXPECT_THROW(StrToFloatAny("1.5", ';'), std::runtime_error);  // no other separators
}

TEST(VariantsEqualTest, ScalarsAndOneDimensionalArrays) {
  auto arr = [](std::int32_t lower, std::vector<Variant> items) {
    SafeArray a(VT_VARIANT, lower, static_cast<std::uint32_t>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i) a.SetFlat(i, items[i]);
    return Variant(std::move(a));
  };
  const Variant a = arr(0, {Variant(1), Variant(2), Variant(3)});
  struct Case { Variant x, y; bool equal; };
  const Case cases[] = {
      {Variant(std::uint16_t{5}), Variant(std::int32_t{5}), true},
      {Variant(std::uint16_t{5}), Variant(5.0), true},
      {Variant(5.5f), Variant(5.5), true},
      {Variant(std::uint64_t{~0ull}), Variant(std::int64_t{-1}), false},
      {Variant("a"), Variant("a"), true},
      {Variant("5"), Variant(5), false},
      {Variant(), Variant(), true},
      {a, arr(0, {Variant(1), Variant(2), Variant(3)}), true},
      {a, arr(0, {Variant(1), Variant(2), Variant(4)}), false},
      {a, arr(1, {Variant(1), Variant(2), Variant(3)}), false},
      {a, arr(0, {Variant(1), Variant(2)}), false},
      {a, Variant(1), false},
      {arr(0, {a}), arr(0, {a}), true},
      {Variant(SafeArray(VT_I4, {{0, 1}, {0, 1}})), Variant(SafeArray(VT_I4, {{0, 1}, {0, 1}})), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VariantsEqual(c.x, c.y), c.equal) << c.x << " vs " << c.y;
    EXPECT_EQ(VariantsEqual(c.y, c.x), c.equal) << c.y << " vs " << c.x;
  }
}

}  // namespace
}  // namespace tarvo
