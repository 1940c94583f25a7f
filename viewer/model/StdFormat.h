#pragma once
// The standard formatted-output notation of the viewer's texts: the Windows program's rules,
// which differ from printf (see StdFormat below).

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant/OleDate.h"
#include "platform/variant/Variant.h"

namespace tarvo {

// A format that does not fit its arguments (a float for %d, a missing argument, ...).
class EFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "%[-][width][.precision]type" with the types d, u, x, e, f, s and "%%".
// Differences from printf kept on purpose, since texts and exports must read as before:
// %x is upper case and shows 32-bit integers as unsigned 32-bit; %f without a precision gives
// two decimals; %e's precision counts significant digits (15 when absent) and its exponent has
// at least three digits ("1.50E+002"); floats round half away from zero on their 18 leading
// decimal digits; a value that rounds to zero shows no minus sign. Integers go to d, u and x
// only, floats to e and f only, strings to s only.
std::string StdFormat(std::string_view format, const std::vector<Variant>& args);

// The format a data unit's format code applies: numeric formats for 0 ... 31, calendar patterns
// for 32 ... 44, the duration formats for 45 and 46; empty for any other code.
std::string FormatOfCode(int code);

// A calendar pattern of the tokens yyyy, yy, mm (month), dd, hh, nn (minutes), ss; "/" and ":"
// are the date and time separators, here always "/" and ":"; anything else is copied.
std::string FormatCalendar(std::string_view pattern, const DateTimeParts& p);

// Device time stamps: seconds since 1970-01-01 00:00:00, no time zone.
DateTimeParts DeviceSecondsToParts(std::uint32_t seconds);

}  // namespace tarvo
