#include "platform/variant/OleDate.h"

#include <cmath>
#include <cstdio>

namespace tarvo {

namespace {
constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kEpochDaysFrom1970 = -25569;  // 1899-12-30 counted from 1970-01-01
}  // namespace

// Howard Hinnant's days_from_civil / civil_from_days.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

DateTimeParts DecodeOleDate(double oleDate) {
  DateTimeParts p;
  if (!std::isfinite(oleDate)) return p;
  double whole = std::trunc(oleDate);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(std::fabs(oleDate - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {  // rounding reached the next midnight of the same calendar day
    ms -= kMsPerDay;
    day += 1;
  }
  CivilFromDays(day + kEpochDaysFrom1970, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.msec = static_cast<int>(ms % 1000);
  return p;
}

double EncodeOleDate(const DateTimeParts& p) {
  std::int64_t day = DaysFromCivil(p.year, p.month, p.day) - kEpochDaysFrom1970;
  double t = ((p.hour * 60.0 + p.minute) * 60.0 + p.second + p.msec / 1000.0) / 86400.0;
  return day >= 0 ? static_cast<double>(day) + t : static_cast<double>(day) - t;
}

std::string FormatOleDate(double oleDate) {
  DateTimeParts p = DecodeOleDate(oleDate);
  char buf[48];
  if (p.msec)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.msec);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
  return buf;
}

}  // namespace tarvo
