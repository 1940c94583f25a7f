#pragma once
// Time helpers of the archive read that checks the time of its first record.

#include <cstdint>

namespace tarvo {

// Trims an OLE date-time to an archive's granularity: milliseconds always; 0 (hour archive) also
// seconds and minutes; 1 (day archive) also the hour; 2 (month archive) also the day, to 1.
double TrimDate(int granularity, double dateTime);

// An unsigned count of seconds as an OLE date-time, counted from 1970-01-01 00:00 when
// fromUnixEpoch is set and from 0001-01-01 00:00 otherwise; no time-zone change.
double SecToDate(std::uint32_t seconds, bool fromUnixEpoch);

}  // namespace tarvo
