#pragma once
// Literal: reads a number written in a formula as the narrowest type that holds it.
#include <string_view>

#include "platform/variant/Variant.h"

namespace tarvo {

// Tries UI1, I1, UI2, I2, UI4, I4 and then R8, in that order, and keeps the first that accepts
// the lower-case text: decimal, hexadecimal with a leading "$" or "0x" or a trailing "h"
// (up to 2, 4 or 8 digits by type), binary with a trailing "b" (up to 8, 16 or 32 digits);
// only decimal text can become a float, with "." or "," as separator. False when none does.
bool ParseFormulaLiteral(std::string_view text, Variant& value);

}  // namespace tarvo
