#include "platform/variant/OleDate.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(OleDate, KnownDatesBothWays) {
  struct Case {
    double ole;
    DateTimeParts parts;
  } cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0, 0}},
      {2.0, {1900, 1, 1, 0, 0, 0, 0}},
      {25569.0, {1970, 1, 1, 0, 0, 0, 0}},
      {25569.5, {1970, 1, 1, 12, 0, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}},  // before the epoch the fraction still runs forward
      {45000.0, {2023, 3, 15, 0, 0, 0, 0}},
      {36526.0 + (13 * 3600 + 45 * 60 + 30.5) / 86400.0, {2000, 1, 1, 13, 45, 30, 500}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeOleDate(c.ole), c.parts) << c.ole;
    EXPECT_NEAR(EncodeOleDate(c.parts), c.ole, 1e-9) << c.ole;
  }
}

TEST(OleDate, RoundsToTheMillisecondAcrossMidnight) {
  // 23:59:59.9996 rounds up to the next day's midnight.
  double almost = 25569.0 + (86400 - 0.0004) / 86400.0;
  EXPECT_EQ(DecodeOleDate(almost), (DateTimeParts{1970, 1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(FormatOleDate(25569.5), "1970-01-01 12:00:00");
}

TEST(OleDate, CivilDaysRoundTrip) {
  for (std::int64_t d : {-719162LL, -1LL, 0LL, 59LL, 11016LL, 2932896LL}) {
    int y, m, day;
    CivilFromDays(d, y, m, day);
    EXPECT_EQ(DaysFromCivil(y, m, day), d);
  }
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(DaysFromCivil(1, 1, 1), -719162);
}

}  // namespace
}  // namespace tarvo
