#include "platform/serial/SerialTermios.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace tarvo {
namespace {

tcflag_t SizeFlag(int dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

tcflag_t ParityFlags(SerialParity p) {
  switch (p) {
    case SerialParity::None: return 0;
    case SerialParity::Odd: return PARENB | PARODD;
    case SerialParity::Even: return PARENB;
    case SerialParity::Mark: return PARENB | CMSPAR | PARODD;
    case SerialParity::Space: return PARENB | CMSPAR;
  }
  return 0;
}

const char* Name(SerialParity p) {
  static const char* const names[] = {"None", "Odd", "Even", "Mark", "Space"};
  return names[static_cast<int>(p)];
}

const char* Name(SerialStopBits s) {
  static const char* const names[] = {"One", "OneAndHalf", "Two"};
  return names[static_cast<int>(s)];
}

using FrameCase = std::tuple<int, SerialParity, SerialStopBits>;

std::string CaseName(const testing::TestParamInfo<FrameCase>& info) {
  const auto& [bits, parity, stop] = info.param;
  return std::to_string(bits) + Name(parity) + Name(stop);
}

class ApplyFormatTest : public testing::TestWithParam<FrameCase> {};

TEST_P(ApplyFormatTest, SetsExactlyTheFrameFlagsAndKeepsTheRest) {
  const auto& [bits, parity, stop] = GetParam();
  const tcflag_t kept = CLOCAL | CREAD | CRTSCTS | HUPCL;
  // Start from every frame flag set, so a stale one left behind shows.
  for (tcflag_t before : {tcflag_t{0}, tcflag_t{CSIZE | PARENB | PARODD | CMSPAR | CSTOPB}}) {
    termios t{};
    t.c_cflag = before | kept;
    const bool exact = ApplyFormat(t, SerialFormat{bits, parity, stop});

    EXPECT_EQ(t.c_cflag & CSIZE, SizeFlag(bits));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), ParityFlags(parity));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop != SerialStopBits::One);
    EXPECT_EQ(t.c_cflag & kept, kept);
    EXPECT_EQ(exact, stop != SerialStopBits::OneAndHalf);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFrame, ApplyFormatTest,
    testing::Combine(testing::Values(5, 6, 7, 8),
                     testing::Values(SerialParity::None, SerialParity::Odd, SerialParity::Even,
                                     SerialParity::Mark, SerialParity::Space),
                     testing::Values(SerialStopBits::One, SerialStopBits::OneAndHalf,
                                     SerialStopBits::Two)),
    CaseName);

TEST(ApplyFormat, DataBitsOutsideFiveToEightFallBackToEightAndReportIt) {
  for (int bits : {0, 4, 9, -1}) {
    termios t{};
    EXPECT_FALSE(ApplyFormat(t, SerialFormat{bits, SerialParity::None, SerialStopBits::One}))
        << bits;
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8}) << bits;
  }
}

TEST(BaudToSpeed, MapsTheTableAndNothingElse) {
  const struct {
    int baud;
    speed_t speed;
  } cases[] = {{1200, B1200},   {2400, B2400},   {4800, B4800}, {9600, B9600},
               {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
               {0, B0},         {300, B0},       {14400, B0},   {230400, B0},
               {-9600, B0},     {9601, B0}};
  for (const auto& c : cases) EXPECT_EQ(BaudToSpeed(c.baud), c.speed) << c.baud;
}

}  // namespace
}  // namespace tarvo
