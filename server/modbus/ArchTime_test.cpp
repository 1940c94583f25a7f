#include "server/modbus/ArchTime.h"

#include <gtest/gtest.h>

#include "platform/variant/OleDate.h"

namespace tarvo {
namespace {

TEST(ArchTime, TrimDateByGranularity) {
  const double t = EncodeOleDate({2026, 12, 11, 10, 20, 30, 400});
  struct Case {
    int granularity;
    DateTimeParts expected;
  } cases[] = {
      {0, {2026, 12, 11, 10, 0, 0, 0}},  // hour archive
      {1, {2026, 12, 11, 0, 0, 0, 0}},   // day archive
      {2, {2026, 12, 1, 0, 0, 0, 0}},    // month archive
      {3, {2026, 12, 11, 10, 20, 30, 0}},
      {-1, {2026, 12, 11, 10, 20, 30, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecodeOleDate(TrimDate(c.granularity, t)), c.expected) << c.granularity;
}

TEST(ArchTime, SecondsToDate) {
  EXPECT_EQ(SecToDate(0, true), kUnixEpochOleDate);
  EXPECT_EQ(DecodeOleDate(SecToDate(0x6B1BC9A0, true)), (DateTimeParts{2026, 12, 11, 10, 0, 0, 0}));
  // Seconds are unsigned: the largest count lies in 2106.
  EXPECT_EQ(DecodeOleDate(SecToDate(0xFFFFFFFF, true)), (DateTimeParts{2106, 2, 7, 6, 28, 15, 0}));
  EXPECT_EQ(DecodeOleDate(SecToDate(86400 + 61, false)), (DateTimeParts{1, 1, 2, 0, 1, 1, 0}));
}

}  // namespace
}  // namespace tarvo
