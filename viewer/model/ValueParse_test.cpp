#include "viewer/model/ValueParse.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvo {
namespace {

struct ParseCase {
  const char* text;
  VarType vt;
  std::optional<Variant> value;  // nullopt: the parse fails
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << "'" << c.text << "' as " << c.vt; }

const std::nullopt_t kFails = std::nullopt;

class StrToValueTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(StrToValueTest, ParsesOrFails) {
  const ParseCase& c = GetParam();
  Variant v(std::int32_t{-777});
  const bool ok = StrToValue(c.text, c.vt, v);
  if (c.value) {
    ASSERT_TRUE(ok);
    EXPECT_EQ(v, *c.value);
  } else {
    EXPECT_FALSE(ok) << v;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrToValueTest,
    ::testing::Values(
        // Booleans
        ParseCase{"1", VT_BOOL, Variant(true)}, ParseCase{"TRUE", VT_BOOL, Variant(true)},
        ParseCase{"0", VT_BOOL, Variant(false)}, ParseCase{"False", VT_BOOL, Variant(false)},
        ParseCase{"2", VT_BOOL, kFails}, ParseCase{"", VT_UI2, kFails},
        // Hexadecimal: three markers, digit limits by type, range checked
        ParseCase{"$ff", VT_UI2, Variant(std::uint16_t{255})}, ParseCase{"0xFF", VT_UI2, Variant(std::uint16_t{255})},
        ParseCase{"ffh", VT_UI2, Variant(std::uint16_t{255})}, ParseCase{"$ffff", VT_UI2, Variant(std::uint16_t{65535})},
        ParseCase{"$ffff", VT_I2, kFails}, ParseCase{"$7fff", VT_I2, Variant(std::int16_t{32767})},
        ParseCase{"$10000", VT_UI2, kFails}, ParseCase{"$0ff", VT_UI1, kFails},
        ParseCase{"$ff", VT_UI1, Variant(std::uint8_t{255})}, ParseCase{"$80", VT_I1, kFails},
        ParseCase{"$ffffffff", VT_UI4, Variant(std::uint32_t{0xFFFFFFFF})}, ParseCase{"$ffffffff", VT_I4, kFails},
        ParseCase{"$7fffffff", VT_I4, Variant(std::int32_t{0x7FFFFFFF})}, ParseCase{"$100000000", VT_UI4, kFails},
        ParseCase{"$10", VT_R4, Variant(16.0f)}, ParseCase{"$10", VT_R8, kFails}, ParseCase{"$10", VT_I8, kFails},
        ParseCase{"$", VT_UI2, kFails}, ParseCase{"0x", VT_UI2, kFails}, ParseCase{"h", VT_UI2, kFails},
        ParseCase{"$fg", VT_UI2, kFails}, ParseCase{"$1b", VT_UI2, Variant(std::uint16_t{0x1B})},
        // Binary
        ParseCase{"101b", VT_UI2, Variant(std::uint16_t{5})}, ParseCase{"1111111111111111b", VT_UI2, Variant(std::uint16_t{65535})},
        ParseCase{"1111111111111111b", VT_I2, kFails}, ParseCase{"10000000000000000b", VT_UI2, kFails},
        ParseCase{"111111111b", VT_UI1, kFails}, ParseCase{"12b", VT_UI2, kFails}, ParseCase{"b", VT_UI2, kFails},
        ParseCase{"11111111111111111111111111111111b", VT_UI4, Variant(std::uint32_t{0xFFFFFFFF})},
        // Calendar, UI4 only
        ParseCase{"d01/01/1970", VT_UI4, Variant(std::uint32_t{0})},
        ParseCase{"D29/02/2024 23:59:59", VT_UI4, Variant(std::uint32_t{1709251199})},
        ParseCase{"d01/01/1970", VT_I4, kFails}, ParseCase{"d31/12/1969", VT_UI4, kFails},
        ParseCase{"d30/02/2024", VT_UI4, kFails},
        // Decimal, by type range
        ParseCase{"-32768", VT_I2, Variant(std::int16_t{-32768})}, ParseCase{"32768", VT_I2, kFails},
        ParseCase{"-2147483648", VT_I4, Variant(std::int32_t{-2147483647 - 1})}, ParseCase{"2147483648", VT_I4, kFails},
        ParseCase{"-128", VT_I1, Variant(std::int8_t{-128})}, ParseCase{"128", VT_I1, kFails},
        ParseCase{"255", VT_UI1, Variant(std::uint8_t{255})}, ParseCase{"256", VT_UI1, kFails},
        ParseCase{"-1", VT_UI1, kFails}, ParseCase{"65535", VT_UI2, Variant(std::uint16_t{65535})},
        ParseCase{"4294967295", VT_UI4, Variant(std::uint32_t{4294967295u})}, ParseCase{"4294967296", VT_UI4, kFails},
        ParseCase{"-1", VT_UI4, kFails}, ParseCase{"+7", VT_UI2, Variant(std::uint16_t{7})},
        ParseCase{"1.5", VT_UI2, kFails}, ParseCase{"x", VT_UI2, kFails}, ParseCase{"x1", VT_UI2, kFails},
        ParseCase{"1,5", VT_R8, Variant(1.5)}, ParseCase{"-0.25", VT_R4, Variant(-0.25f)},
        ParseCase{"1e39", VT_R4, kFails}, ParseCase{"abc", VT_R8, kFails},
        ParseCase{"-9223372036854775808", VT_I8, Variant(std::int64_t{-9223372036854775807LL - 1})},
        // No type to parse into is a failure, not a success without a value.
        ParseCase{"5", VT_BSTR, kFails}, ParseCase{"5", VT_EMPTY, kFails}));

TEST(ParseCalendarTest, FormatsFieldsAndDefaults) {
  struct Case { const char* text; const char* date; const char* time; std::optional<DateTimeParts> parts; };
  const Case cases[] = {
      {"05/03/24 07:08:09", "dd/mm/yy", "hh:nn:ss", DateTimeParts{2024, 3, 5, 7, 8, 9, 0}},
      {"03/05/24 07:08:09", "mm/dd/yy", "hh:nn:ss", DateTimeParts{2024, 3, 5, 7, 8, 9, 0}},
      {"5/3/1999", "dd/mm/yyyy", "hh:nn:ss", DateTimeParts{1999, 3, 5, 0, 0, 0, 0}},
      {"05/03/69", "dd/mm/yy", "", DateTimeParts{2069, 3, 5, 0, 0, 0, 0}},
      {"05/03/70", "dd/mm/yy", "", DateTimeParts{1970, 3, 5, 0, 0, 0, 0}},
      {"05/03/2024  12:30", "dd/mm/yyyy", "hh:nn:ss", DateTimeParts{2024, 3, 5, 12, 30, 0, 0}},
      {"12:34:56", "", "hh:nn:ss", DateTimeParts{1970, 1, 1, 12, 34, 56, 0}},
      {"2001", "yyyy", "", DateTimeParts{2001, 1, 1, 0, 0, 0, 0}},
      {"7", "mm", "", DateTimeParts{1970, 7, 1, 0, 0, 0, 0}},
      {"45", "", "nn", DateTimeParts{1970, 1, 1, 0, 45, 0, 0}},
      {"05/03/2024 12:30", "dd/mm/yyyy", "", std::nullopt},
      {"05-03-2024", "dd/mm/yyyy", "hh:nn:ss", std::nullopt},
      {"05/13/2024", "dd/mm/yyyy", "", std::nullopt},
      {"29/02/2023", "dd/mm/yyyy", "", std::nullopt},
      {"05/03", "dd/mm/yyyy", "", std::nullopt},
      {"24:00:00", "", "hh:nn:ss", std::nullopt},
      {"12:60", "", "hh:nn:ss", std::nullopt},
      {"12:30:00:00", "", "hh:nn:ss", std::nullopt},
      {"", "", "hh:nn:ss", std::nullopt},
      {"1/1/1970x", "dd/mm/yyyy", "hh:nn:ss", std::nullopt},
  };
  for (const Case& c : cases) {
    DateTimeParts p;
    const bool ok = ParseCalendarText(c.text, c.date, c.time, p);
    EXPECT_EQ(ok, c.parts.has_value()) << c.text;
    if (ok && c.parts) {
      EXPECT_EQ(p, *c.parts) << c.text;
    }
  }
}

TEST(ParseDurationTest, FieldsDigitsAndTypes) {
  struct Case { const char* text; int fields; VarType vt; std::optional<Variant> value; };
  const Case cases[] = {
      {"1:2:3:4", 4, VT_UI4, Variant(std::uint32_t{93784})},
      {"1:2:5", 3, VT_UI4, Variant(std::uint32_t{3725})},
      {"1:2", 3, VT_UI4, Variant(std::uint32_t{3720})},  // missing trailing fields are 0
      {"100", 3, VT_UI2, Variant(std::uint16_t{360000 & 0xFFFF})},  // cast without a range check
      {"1:2:3:4", 3, VT_UI4, std::nullopt},
      {"1  2:3:4", 4, VT_UI4, std::nullopt},
      {"1::3", 3, VT_UI4, std::nullopt},
      {"1:2:", 3, VT_UI4, std::nullopt},
      {"1:2:3", 3, VT_R8, std::nullopt},
      {"1:2:3", 3, VT_R4, std::nullopt},
      {"9999999999", 3, VT_UI4, std::nullopt},
      {"", 3, VT_UI4, std::nullopt},
  };
  for (const Case& c : cases) {
    Variant v;
    const bool ok = ParseDuration(c.text, c.fields, c.vt, v);
    EXPECT_EQ(ok, c.value.has_value()) << c.text;
    if (ok && c.value) {
      EXPECT_EQ(v, *c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace tarvo
