#pragma once
// Parsing of value texts: hexadecimal, binary, decimal, calendar and duration forms, each
// checked against the range of the value type it is read as.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant/OleDate.h"
#include "platform/variant/Variant.h"

namespace tarvo {

// The date and time formats a "d" text is read with (the date separator is always "/").
inline constexpr std::string_view kSystemDateFormat = "dd/mm/yyyy";
inline constexpr std::string_view kSystemTimeFormat = "hh:nn:ss";

// How a text is read, chosen from its markers (the text already in lower case).
enum class TextMode { Hex, Bin, Date, Decimal };
// Hex for a leading "$" or "0x" or a trailing "h", Bin for a trailing "b", Date for a leading
// "d" when allowDate, else Decimal; digits is the text without its marker.
TextMode ModeOfText(std::string_view lowered, bool allowDate, std::string_view& digits);

// 1 ... 4 digits for I2 and UI2, 1 ... 8 for I4, R4 and UI4, 1 ... 2 for I1 and UI1, read as an
// unsigned 32-bit number that must fit the type; other types fail.
bool ParseHexDigits(std::string_view digits, VarType type, Variant& value);
// 1 ... 16, 32 or 8 binary digits by the same groups, same range rule.
bool ParseBinDigits(std::string_view digits, VarType type, Variant& value);
// A decimal integer in the type's range, or a float (either separator) for R4 and R8; I8 takes
// any 64-bit integer. Other types fail.
bool ParseDecimal(std::string_view text, VarType type, Variant& value);

// A calendar text in the given date format (fields d, m, y separated by "/") followed, after
// blanks, by a time in the time format (h, n, s separated by ":"; trailing fields may be left
// out). An empty format means that part is absent: a missing date is 1970-01-01, missing time
// fields are 0. Two-digit years are 1970 ... 2069. False for impossible dates and times.
bool ParseCalendarText(std::string_view text, std::string_view dateFormat,
                       std::string_view timeFormat, DateTimeParts& parts);
// A calendar text as a device time stamp; false also when the time stamp cannot hold it.
bool ParseDeviceSeconds(std::string_view text, std::string_view dateFormat,
                        std::string_view timeFormat, std::uint32_t& seconds);

// The entry formats of a calendar format code (32 ... 44); false for other codes.
bool CalendarEntryFormats(int code, std::string& dateFormat, std::string& timeFormat);

// "h:m:s" (fields 3) or "d:h:m:s" (fields 4), trailing fields may be left out, digits and ":"
// only; the seconds cast to the type without a range check. R4 and R8 fail.
bool ParseDuration(std::string_view text, int fields, VarType type, Variant& value);

// Text as a value of the type (formula literals, bit cells): BOOL takes "1"/"true" and
// "0"/"false"; other types by the text's mode; "d" texts only for UI4. Never raises.
bool StrToValue(std::string_view text, VarType type, Variant& value);

}  // namespace tarvo
