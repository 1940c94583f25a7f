#pragma once
// Conversions of the viewer's item values: casts between value types, hexadecimal and binary
// texts, device time stamps, float texts with either decimal separator, value comparison.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant/Variant.h"

namespace tarvo {

// Stores a numeric value as the given type without range checks: the integer types take the
// value truncated toward zero and reduced to their low 8, 16, 32 (or 64) bits, R4 and R8 take it
// as a float, BOOL its truth. Any other type gives an empty value. A value with no number
// (a text that is not one, an array) raises VariantError.
Variant CastValue(const Variant& value, VarType type);

// Hexadecimal digits (upper case) of the value's bit pattern, by its type; "True"/"False" for
// Booleans; the error text "Данный тип функцией VarToHex не поддерживается" for other types.
std::string ValueToHex(const Variant& value);
// The bit pattern, most significant bit first, followed by "b"; just "b" for other types.
std::string ValueToBin(const Variant& value);

// Device time stamps are unsigned seconds since 1970-01-01 00:00:00, no time zone.
double DeviceSecondsToDateTime(std::uint32_t seconds);
// Whole days since 1970 × 86400 plus the time of day rounded to the second; 0 before 1970,
// 4294967295 past the last second a time stamp can hold.
std::uint32_t DateTimeToDeviceSeconds(double dateTime);

// A float written with "." or "," as its separator, blanks around it allowed. systemSeparator
// is the separator the float notation expects ("." on this platform). Failure raises
// std::runtime_error "'<text>' - не вещественное число" through TLastErr.
double StrToFloatAny(std::string_view text, char systemSeparator = '.');

// Scalars equal in value (numbers compared as numbers), or 1-D arrays of equal bounds whose
// elements are pairwise equal; arrays of other dimension counts are never equal.
bool VariantsEqual(const Variant& a, const Variant& b);

}  // namespace tarvo
