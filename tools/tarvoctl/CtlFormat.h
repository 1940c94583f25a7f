#pragma once
// Printing the server's six-element reply arrays: one text line or one JSON object per reply.

#include <string>
#include <string_view>

#include "platform/variant/Variant.h"

namespace tarvo::ctl {

// "mbReadHoldRegs"; "" for a number that is no call type.
std::string_view CallTypeName(std::int64_t call);

// "mbReadHoldRegs qid=1 addr=1 fn=3 result=0 mbcOK value=[10,20]". A reply that is not a
// six-element array gives "malformed reply: ..." instead.
std::string FormatReplyText(const Variant& reply);
// {"call":2,"qid":1,"addr":1,"fn":3,"result":0,"result_text":"mbcOK","value":[10,20]}. A
// malformed reply gives {"error":"malformed reply: ..."}.
std::string FormatReplyJson(const Variant& reply);

// A Variant as JSON: numbers (floats in their shortest exact form; NaN and infinities null),
// booleans, strings (escaped; bytes that are not UTF-8 become U+FFFD), null for Empty and Null,
// dates as "YYYY-MM-DD hh:mm:ss", arrays nested by dimension (a 2-D array is an array of rows).
std::string ValueJson(const Variant& v);

}  // namespace tarvo::ctl
