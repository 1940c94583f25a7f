#pragma once
// OLE date-time: days since 1899-12-30 as a double, the time of day in the fraction.
// Before the epoch the integer part counts days back and the fraction still runs forward
// (-1.25 is 1899-12-29 06:00), as the automation platform defines it.

#include <cstdint>
#include <string>

namespace tarvo {

inline constexpr double kMinOleDate = -657434.0;   // 0100-01-01
inline constexpr double kMaxOleDate = 2958465.99999999;  // 9999-12-31 23:59:59.999

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, msec = 0;
  bool operator==(const DateTimeParts&) const = default;
};

// Days from 1970-01-01 to the given proleptic Gregorian date (negative before it).
std::int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(std::int64_t days, int& year, int& month, int& day);

// Rounded to the nearest millisecond, as the platform's decoder does.
DateTimeParts DecodeOleDate(double oleDate);
double EncodeOleDate(const DateTimeParts& p);

// The OLE date of 1970-01-01 00:00.
inline constexpr double kUnixEpochOleDate = 25569.0;

// "yyyy-mm-dd hh:nn:ss[.zzz]"
std::string FormatOleDate(double oleDate);

}  // namespace tarvo
