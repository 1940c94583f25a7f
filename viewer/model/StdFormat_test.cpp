#include "viewer/model/StdFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {
namespace {

struct FormatCase {
  std::string format;
  std::vector<Variant> args;
  std::string expected;
};

TEST(StdFormatTest, FollowsTheWindowsNotation) {
  const std::vector<FormatCase> cases = {
      {"%1.0f", {Variant(2.5)}, "3"},  // half away from zero, unlike printf's "2"
      {"%3.0f", {Variant(7.0)}, "  7"},
      {"%9.0f", {Variant(-12.0)}, "      -12"},
      {"%.0f", {Variant(-0.5)}, "-1"},
      {"%.2f", {Variant(0.125)}, "0.13"},
      {"%.2f", {Variant(1.005)}, "1.00"},  // the double is just below 1.005
      {"%.1f", {Variant(99.96)}, "100.0"},
      {"%.2f", {Variant(-0.001)}, "0.00"},
      {"%f", {Variant(1.0)}, "1.00"},
      {"%.9f", {Variant(1.0 / 3)}, "0.333333333"},
      {"%.3e", {Variant(1234.5)}, "1.23E+003"},
      {"%.1e", {Variant(0.05)}, "5E-002"},
      {"%.2e", {Variant(9.99)}, "1.0E+001"},
      {"%e", {Variant(100.0)}, "1.00000000000000E+002"},
      {"%.4e", {Variant(0.0)}, "0.000E+000"},
      {"%.3e", {Variant(-1.5e-300)}, "-1.50E-300"},
      {"$%x", {Variant(std::int32_t{255})}, "$FF"},
      {"0x%x", {Variant(std::int16_t{-1})}, "0xFFFFFFFF"},
      {"%.4x", {Variant(std::uint32_t{255})}, "00FF"},
      {"%d  %d:%d:%d", {Variant(1), Variant(2), Variant(3), Variant(4)}, "1  2:3:4"},
      {"%.3d|%-4d|%4d", {Variant(-5), Variant(7), Variant(8)}, "-005|7   |   8"},
      {"'%s' - не вещественное число", {Variant("1,2.3")}, "'1,2.3' - не вещественное число"},
      {"%5s|%.2s", {Variant("Да"), Variant("Абв")}, "   Да|Аб"},
      {"100%%", {}, "100%"},
  };
  for (const FormatCase& c : cases) EXPECT_EQ(StdFormat(c.format, c.args), c.expected) << c.format;
}

TEST(StdFormatTest, ArgumentsOfTheWrongKindAreErrors) {
  const std::vector<FormatCase> cases = {
      {"%x", {Variant(1.0)}, ""},
      {"%f", {Variant(1)}, ""},
      {"%d", {Variant("1")}, ""},
      {"%s", {Variant(1)}, ""},
      {"%d", {}, ""},
      {"%5", {Variant(1)}, ""},
      {"%q", {Variant(1)}, ""},
  };
  for (const FormatCase& c : cases) EXPECT_THROW(StdFormat(c.format, c.args), EFormatError) << c.format;
}

TEST(StdFormatTest, FormatCodesAndCalendar) {
  EXPECT_EQ(FormatOfCode(0), "%1.0f");
  EXPECT_EQ(FormatOfCode(8), "%9.0f");
  EXPECT_EQ(FormatOfCode(9), "%.0f");
  EXPECT_EQ(FormatOfCode(18), "%.9f");
  EXPECT_EQ(FormatOfCode(19), "%f");
  EXPECT_EQ(FormatOfCode(20), "%.1e");
  EXPECT_EQ(FormatOfCode(29), "%e");
  EXPECT_EQ(FormatOfCode(47), "");
  EXPECT_EQ(FormatOfCode(-1), "");

  const DateTimeParts t = DeviceSecondsToParts(1700000000);  // 2023-11-14 22:13:20
  const std::vector<std::string> expected = {
      "14/11/23 22:13:20", "11/14/23 22:13:20", "14/11/2023", "11/14/2023", "14/11/23", "11/14/23",
      "22:13:20", "2023", "11", "14", "22", "13", "20"};
  for (int code = 32; code <= 44; ++code)
    EXPECT_EQ(FormatCalendar(FormatOfCode(code), t), expected[code - 32]) << code;
  EXPECT_EQ(FormatCalendar("dd/mm/yyyy hh:nn:ss", DeviceSecondsToParts(0)), "01/01/1970 00:00:00");
  EXPECT_EQ(FormatCalendar("yyyy-mm-dd", DeviceSecondsToParts(0xFFFFFFFF)), "2106-02-07");
}

}  // namespace
}  // namespace tarvo
