#include "tools/devsim/Faults.h"

#include <gtest/gtest.h>

#include "tools/devsim/HexText.h"

namespace tarvo::devsim {
namespace {

std::string Shape(const char* pdu, TModbusMode mode, const Faults& f) {
  std::mt19937 rng(1);
  auto bytes = ShapeAnswer(FromHexText(pdu), mode, f, rng);
  if (mode == mmASCII) return std::string(bytes.begin(), bytes.end());
  return ToHexText(bytes);
}

TEST(Faults, SpoilFramedAnswers) {
  Faults none;
  EXPECT_EQ(Shape("01 03 02 00 0A", mmRTU, none), "01 03 02 00 0A 38 43");
  EXPECT_EQ(Shape("01 03 02 00 0A", mmASCII, none), ":010302000AF0\r\n");

  Faults bad;
  bad.badChecksum = true;
  EXPECT_EQ(Shape("01 03 02 00 0A", mmRTU, bad), "01 03 02 00 0A 38 BC");
  EXPECT_EQ(Shape("01 03 02 00 0A", mmASCII, bad), ":010302000A0F\r\n");

  Faults wrong;
  wrong.wrongAddr = true;  // the checksum is right for the wrong address
  EXPECT_EQ(Shape("01 03 02 00 0A", mmRTU, wrong), "02 03 02 00 0A 7C 43");
  EXPECT_EQ(Shape("01 83 02", mmASCII, wrong), ":02830279\r\n");
}

TEST(Faults, GarbageComesFirstAndVaries) {
  Faults g;
  g.garbage = 16;
  std::mt19937 rng(7);
  auto a = ShapeAnswer(FromHexText("01 07 6D"), mmRTU, g, rng);
  auto b = ShapeAnswer(FromHexText("01 07 6D"), mmRTU, g, rng);
  ASSERT_EQ(a.size(), 21u);
  EXPECT_EQ(ToHexText({a.begin() + 16, a.end()}), "01 07 6D E3 DD");
  EXPECT_NE(std::vector<std::uint8_t>(a.begin(), a.begin() + 16),
            std::vector<std::uint8_t>(b.begin(), b.begin() + 16));
}

}  // namespace
}  // namespace tarvo::devsim
