#include "tools/devsim/RequestFramer.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/devsim/HexText.h"

namespace tarvo::devsim {
namespace {

std::vector<std::uint8_t> Chars(const std::string& s) { return {s.begin(), s.end()}; }

// Frames of one chunk fed whole, then fed a byte at a time: both must agree.
std::vector<std::string> Cut(TModbusMode mode, const std::vector<std::uint8_t>& bytes,
                             bool quietGapAtEnd = false) {
  std::vector<std::string> results[2];
  for (int byteWise = 0; byteWise < 2; ++byteWise) {
    RequestFramer framer(mode);
    std::vector<RequestFrame> frames;
    if (byteWise) {
      for (std::uint8_t b : bytes) framer.Feed(&b, 1, frames);
    } else {
      framer.Feed(bytes.data(), static_cast<int>(bytes.size()), frames);
    }
    if (quietGapAtEnd) framer.QuietGap(frames);
    for (const RequestFrame& f : frames)
      results[byteWise].push_back((f.checksumOk ? "" : "BAD ") + ToHexText(f.pdu));
  }
  EXPECT_EQ(results[0], results[1]);
  return results[0];
}

using Frames = std::vector<std::string>;

struct RtuCase {
  const char* name;
  const char* bytes;
  Frames frames;
};

void PrintTo(const RtuCase& c, std::ostream* os) { *os << c.name; }

class RtuFraming : public ::testing::TestWithParam<RtuCase> {};

// The requests are those the server's codec builds.
TEST_P(RtuFraming, SizesEveryRequestTheServerSends) {
  EXPECT_EQ(Cut(mmRTU, FromHexText(GetParam().bytes)), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RtuFraming,
    ::testing::Values(
        RtuCase{"ReadHolding", "01 03 00 00 00 01 84 0A", {"01 03 00 00 00 01"}},
        RtuCase{"ReadInputs", "01 04 00 08 00 04 70 0B", {"01 04 00 08 00 04"}},
        RtuCase{"ReadCoils", "01 01 00 13 00 0A 4D C8", {"01 01 00 13 00 0A"}},
        RtuCase{"ReadDiscrete", "01 02 00 00 00 08 79 CC", {"01 02 00 00 00 08"}},
        RtuCase{"WriteCoil", "01 05 00 07 FF 00 3D FB", {"01 05 00 07 FF 00"}},
        RtuCase{"WriteRegister", "01 06 00 05 12 34 94 BC", {"01 06 00 05 12 34"}},
        RtuCase{"Status", "01 07 41 E2", {"01 07"}},
        RtuCase{"Diagnostics", "01 08 00 00 A5 37 DA 8D", {"01 08 00 00 A5 37"}},
        RtuCase{"WriteCoils", "01 0F 00 00 00 09 02 81 01 44 EC", {"01 0F 00 00 00 09 02 81 01"}},
        RtuCase{"WriteRegisters", "01 10 00 00 00 04 08 01 02 03 04 3F 80 00 00 A8 79",
                {"01 10 00 00 00 04 08 01 02 03 04 3F 80 00 00"}},
        RtuCase{"DeviceName", "01 11 C0 2C", {"01 11"}},
        RtuCase{"ArchiveByTime", "01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A C9 E5",
                {"01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A"}},
        RtuCase{"ArchiveByIndex", "01 41 00 01 00 02 00 01 00 C3 65",
                {"01 41 00 01 00 02 00 01 00"}},
        RtuCase{"BackToBack", "01 07 41 E2 01 03 00 00 00 01 84 0A 01 11 C0 2C",
                {"01 07", "01 03 00 00 00 01", "01 11"}},
        RtuCase{"BadCrcIsAFrameMarkedBad", "01 03 00 00 00 01 84 0B 01 07 41 E2",
                {"BAD 01 03 00 00 00 01", "01 07"}},
        RtuCase{"Incomplete", "01 03 00 00 00", {}}),
    [](const ::testing::TestParamInfo<RtuCase>& info) { return info.param.name; });

TEST(RtuFraming, QuietGapDecidesWhatCannotBeSized) {
  // An unknown function with a good CRC is a frame, to be refused with an exception.
  EXPECT_EQ(Cut(mmRTU, FromHexText("05 2B 0E 01 00 81 B7"), true), Frames{"05 2B 0E 01 00"});
  // Noise is dropped, and the next frame is read cleanly.
  RequestFramer framer(mmRTU);
  std::vector<RequestFrame> frames;
  auto noise = FromHexText("13 37 77 00 FF");
  framer.Feed(noise.data(), static_cast<int>(noise.size()), frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(framer.Pending());
  framer.QuietGap(frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_FALSE(framer.Pending());
  auto good = FromHexText("01 03 00 00 00 01 84 0A");
  framer.Feed(good.data(), static_cast<int>(good.size()), frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].checksumOk);
  // A partial known frame cut by a gap is dropped too.
  framer.Feed(good.data(), 5, frames);
  framer.QuietGap(frames);
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_FALSE(framer.Pending());
}

struct AsciiCase {
  const char* name;
  const char* text;
  Frames frames;
};

void PrintTo(const AsciiCase& c, std::ostream* os) { *os << c.name; }

class AsciiFraming : public ::testing::TestWithParam<AsciiCase> {};

TEST_P(AsciiFraming, ColonToLineEnd) {
  EXPECT_EQ(Cut(mmASCII, Chars(GetParam().text)), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AsciiFraming,
    ::testing::Values(
        AsciiCase{"ReadHolding", ":010300000001FB\r\n", {"01 03 00 00 00 01"}},
        AsciiCase{"WriteRegisters", ":011000050001021234A1\r\n", {"01 10 00 05 00 01 02 12 34"}},
        AsciiCase{"ArchiveByTime", ":014100020003011E140A0B0C1A4B\r\n",
                  {"01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A"}},
        AsciiCase{"Status", ":0107F8\r\n", {"01 07"}},
        AsciiCase{"LowerCaseHexAccepted", ":01050007ff00f4\r\n", {"01 05 00 07 FF 00"}},
        AsciiCase{"NoiseBeforeAndBetween", "xx\r\n:0107F8\r\nzz:0111EE\r\n", {"01 07", "01 11"}},
        AsciiCase{"NewColonRestarts", ":0103:0107F8\r\n", {"01 07"}},
        AsciiCase{"BadLrc", ":010300000001FC\r\n", {"BAD 01 03 00 00 00 01"}},
        AsciiCase{"NotHex", ":01G300000001FB\r\n", {"BAD "}},
        AsciiCase{"OddLength", ":0107F\r\n", {"BAD "}},
        AsciiCase{"TooShort", ":01F\r\n", {"BAD "}},
        AsciiCase{"NoLineEnd", ":0107F8\r", {}}),
    [](const ::testing::TestParamInfo<AsciiCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarvo::devsim
