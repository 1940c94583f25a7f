#include "tools/devsim/Slave.h"

#include <gtest/gtest.h>

#include "tools/devsim/HexText.h"
#include "tools/devsim/MapFile.h"

namespace tarvo::devsim {
namespace {

// 2026-12-11 10:30:00 UTC: the newest hourly record is 10:00 (0x6B1BC9A0).
constexpr std::int64_t kNow = 1796983200 + 1800;

SlaveClock At(double uptime) { return {uptime, kNow}; }

std::string Ask(Slave& slave, const std::string& request, double uptime = 0) {
  auto answer = slave.Handle(FromHexText(request), At(uptime));
  return answer ? ToHexText(*answer) : "none";
}

struct AnswerCase {
  const char* name;
  const char* request;  // address, function, data
  const char* answer;   // "none" for silence
  double uptime = 0;
};

void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class DefaultMapAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DefaultMapAnswers, AnswersAsAnInstrumentWould) {
  Slave slave(DefaultMap(), 1);
  EXPECT_EQ(Ask(slave, GetParam().request, GetParam().uptime), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultMapAnswers,
    ::testing::Values(
        AnswerCase{"HoldingOne", "01 03 00 00 00 01", "01 03 02 00 01"},
        AnswerCase{"HoldingAcrossWritableAndZero", "01 03 00 08 00 03", "01 03 06 00 09 00 0A 00 00"},
        AnswerCase{"HoldingReadOnlyStillReads", "01 03 00 C6 00 02", "01 03 04 00 C6 00 C7"},
        AnswerCase{"HoldingPastTheMap", "01 03 00 C7 00 02", "01 83 02"},
        AnswerCase{"HoldingCountZero", "01 03 00 00 00 00", "01 83 03"},
        AnswerCase{"HoldingCountTooLarge", "01 03 00 00 00 7E", "01 83 03"},
        AnswerCase{"HoldingShortRequest", "01 03 00 00 00", "01 83 03"},
        AnswerCase{"InputRampIsUptime", "01 04 00 00 00 01", "01 04 02 00 2A", 42.7},
        AnswerCase{"InputSineAtQuarterPeriod", "01 04 00 01 00 01", "01 04 02 07 D0", 15},
        AnswerCase{"InputSineAtThreeQuarters", "01 04 00 01 00 01", "01 04 02 00 00", 45},
        AnswerCase{"InputConstants", "01 04 00 02 00 02", "01 04 04 00 02 00 03"},
        AnswerCase{"DiscreteInputsLowBitFirst", "01 02 00 1E 00 0A", "01 02 02 03 00"},
        AnswerCase{"DiscreteInputsNine", "01 02 00 00 00 09", "01 02 02 FF 01"},
        AnswerCase{"CoilsStartOff", "01 01 00 13 00 0A", "01 01 02 00 00"},
        AnswerCase{"CoilsPastTheMap", "01 01 00 3C 00 05", "01 81 02"},
        AnswerCase{"WriteCoilEchoes", "01 05 00 07 FF 00", "01 05 00 07 FF 00"},
        AnswerCase{"WriteCoilOddValue", "01 05 00 07 12 34", "01 85 03"},
        AnswerCase{"WriteCoilOutside", "01 05 00 40 FF 00", "01 85 02"},
        AnswerCase{"WriteRegisterEchoes", "01 06 00 05 12 34", "01 06 00 05 12 34"},
        AnswerCase{"WriteRegisterReadOnly", "01 06 00 64 00 01", "01 86 02"},
        AnswerCase{"WriteRegisterOutside", "01 06 01 00 00 01", "01 86 02"},
        AnswerCase{"WriteRegistersAddressAndCount", "01 10 00 05 00 01 02 12 34",
                   "01 10 00 05 00 01"},
        AnswerCase{"WriteRegistersByteCountWrong", "01 10 00 00 00 02 02 00 01", "01 90 03"},
        AnswerCase{"WriteRegistersIntoReadOnly", "01 10 00 63 00 02 04 00 01 00 02", "01 90 02"},
        AnswerCase{"WriteCoilsAddressAndCount", "01 0F 00 00 00 09 02 81 01", "01 0F 00 00 00 09"},
        AnswerCase{"WriteCoilsByteCountWrong", "01 0F 00 00 00 09 01 81", "01 8F 03"},
        AnswerCase{"Status", "01 07", "01 07 6D"},
        AnswerCase{"DiagnosticsEcho", "01 08 00 00 A5 37", "01 08 00 00 A5 37"},
        AnswerCase{"DiagnosticsRestartEchoes", "01 08 00 01 FF 00", "01 08 00 01 FF 00"},
        AnswerCase{"DiagnosticsUnknownSub", "01 08 00 63 00 00", "01 88 01"},
        AnswerCase{"DeviceName", "01 11", "01 11 0C 54 61 72 76 6F 20 44 65 76 53 69 6D"},
        AnswerCase{"UnknownFunction", "01 2B 0E 01 00", "01 AB 01"},
        AnswerCase{"OtherAddress", "02 03 00 00 00 01", "none"},
        AnswerCase{"BroadcastWrite", "00 06 00 05 12 34", "none"},
        AnswerCase{"BroadcastRead", "00 03 00 00 00 01", "none"},
        AnswerCase{"ArchiveNewestByIndex", "01 41 00 00 00 01 00 00 2F",
                   "01 41 08 6B 1B C9 A0 A1 C2 A5 AA"},
        AnswerCase{"ArchiveOldestByIndex", "01 41 00 00 00 01 00 00 00",
                   "01 41 08 6B 19 34 B0 A1 93 A5 7B"},
        AnswerCase{"ArchiveByExactTime", "01 41 00 00 00 02 01 00 00 09 0B 0C 1A",
                   "01 41 10 6B 1B BB 90 A1 C1 A5 A9 6B 1B C9 A0 A1 C2 A5 AA"},
        AnswerCase{"ArchiveByTimeBetweenRecordsStopsAtNewest",
                   "01 41 00 00 00 03 01 00 1E 09 0B 0C 1A", "01 41 08 6B 1B C9 A0 A1 C2 A5 AA"},
        AnswerCase{"ArchiveDaily", "01 41 00 01 00 01 01 00 00 00 0A 0C 1A",
                   "01 41 08 6B 19 EB 80 55 25 59 0D"},
        AnswerCase{"ArchiveTimeInTheFuture", "01 41 00 00 00 01 01 00 00 0B 0B 0C 1A", "01 C1 02"},
        AnswerCase{"ArchiveBadDate", "01 41 00 00 00 01 01 00 00 0B 20 0D 1A", "01 C1 03"},
        AnswerCase{"ArchiveIndexPastTheEnd", "01 41 00 00 00 01 00 00 30", "01 C1 02"},
        AnswerCase{"ArchiveUnknown", "01 41 00 02 00 03 01 1E 14 0A 0B 0C 1A", "01 C1 02"},
        AnswerCase{"ArchiveCountPastOneFrame", "01 41 00 00 00 20 00 00 00", "01 C1 03"}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

TEST(Slave, WritesAreReadBack) {
  Slave slave(DefaultMap(), 1);
  EXPECT_EQ(Ask(slave, "01 05 00 07 FF 00"), "01 05 00 07 FF 00");
  EXPECT_EQ(Ask(slave, "01 0F 00 08 00 03 01 05"), "01 0F 00 08 00 03");
  EXPECT_EQ(Ask(slave, "01 01 00 00 00 10"), "01 01 02 80 05");
  EXPECT_EQ(Ask(slave, "01 05 00 07 00 00"), "01 05 00 07 00 00");
  EXPECT_EQ(Ask(slave, "01 01 00 00 00 08"), "01 01 01 00");

  EXPECT_EQ(Ask(slave, "01 10 00 00 00 02 04 AB CD 00 01"), "01 10 00 00 00 02");
  EXPECT_EQ(Ask(slave, "01 06 00 02 FF FF"), "01 06 00 02 FF FF");
  EXPECT_EQ(Ask(slave, "01 03 00 00 00 03"), "01 03 06 AB CD 00 01 FF FF");
  // A refused write changes nothing, not even the writable part of its range.
  EXPECT_EQ(Ask(slave, "01 10 00 63 00 02 04 11 11 22 22"), "01 90 02");
  EXPECT_EQ(Ask(slave, "01 03 00 63 00 02"), "01 03 04 00 00 00 64");
}

TEST(Slave, BroadcastWritesActSilently) {
  Slave slave(DefaultMap(), 7);
  EXPECT_EQ(Ask(slave, "00 06 00 05 12 34"), "none");
  EXPECT_EQ(Ask(slave, "00 05 00 01 FF 00"), "none");
  EXPECT_EQ(Ask(slave, "07 03 00 05 00 01"), "07 03 02 12 34");
  EXPECT_EQ(Ask(slave, "07 01 00 00 00 02"), "07 01 01 02");
  EXPECT_EQ(Ask(slave, "01 03 00 05 00 01"), "none");
}

TEST(Slave, ForcedExceptionAnswersEverythingAndWritesNothing) {
  Slave slave(DefaultMap(), 1);
  slave.ForceException(4);
  EXPECT_EQ(Ask(slave, "01 03 00 00 00 01"), "01 83 04");
  EXPECT_EQ(Ask(slave, "01 06 00 00 00 63"), "01 86 04");
  EXPECT_EQ(Ask(slave, "01 2B 0E 01 00"), "01 AB 04");
  EXPECT_EQ(Ask(slave, "00 06 00 00 00 63"), "none");
  EXPECT_EQ(Ask(slave, "02 03 00 00 00 01"), "none");
  slave.ForceException(0);
  EXPECT_EQ(Ask(slave, "01 03 00 00 00 01"), "01 03 02 00 01");
}

TEST(Slave, DiagnosticCountersAndRestart) {
  Slave slave(DefaultMap(), 1);
  Ask(slave, "01 03 00 00 00 01");
  Ask(slave, "01 03 03 00 00 01");  // exception
  Ask(slave, "02 03 00 00 00 01");  // someone else's
  slave.CountChecksumError();
  EXPECT_EQ(Ask(slave, "01 08 00 0B 00 00"), "01 08 00 0B 00 05");  // bus: 4 before and this one
  EXPECT_EQ(Ask(slave, "01 08 00 0C 00 00"), "01 08 00 0C 00 01");
  EXPECT_EQ(Ask(slave, "01 08 00 0D 00 00"), "01 08 00 0D 00 01");
  EXPECT_EQ(Ask(slave, "01 08 00 0E 00 00"), "01 08 00 0E 00 06");
  EXPECT_EQ(Ask(slave, "01 08 00 01 00 00"), "01 08 00 01 00 00");
  EXPECT_EQ(Ask(slave, "01 08 00 0B 00 00"), "01 08 00 0B 00 01");
}

TEST(Slave, NameTravelsInCodePage1251) {
  DeviceMap map;
  ParseMap("name Счётчик 7\n", map);
  Slave slave(std::move(map), 3);
  EXPECT_EQ(Ask(slave, "03 11"), "03 11 09 D1 F7 B8 F2 F7 E8 EA 20 37");
}

}  // namespace
}  // namespace tarvo::devsim
