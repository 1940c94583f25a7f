#pragma once
// Readers of the texts of tarvoctl's command line: integers, data types, register and coil
// values, hexadecimal bytes, times. Each raises CtlUsageError naming the option and the text.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant/OleDate.h"
#include "platform/variant/Variant.h"

namespace tarvo::ctl {

// A command line that cannot be run; the message names the option or value at fault.
class CtlUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decimal or 0x-hexadecimal integer in lo..hi (a leading '-' for negative decimals).
std::int64_t ReadInt(std::string_view option, std::string_view text, std::int64_t lo,
                     std::int64_t hi);

// One data type by name: i8 u8 i16 u16 i32 u32 f32.
struct DataTypeInfo {
  const char* name;
  std::int32_t code;  // the data type code, also the Variant type of its values
  int size;           // bytes on the wire without AdjustToWord
};
const DataTypeInfo* FindDataType(std::int32_t code);
// "u16" or "u32,f32,u16" (a record); raises for an unknown or empty name.
std::vector<std::int32_t> ReadDataTypes(std::string_view option, std::string_view text);
// Bytes of one item of the codes, as the server sizes them.
int DataTypesSize(const std::vector<std::int32_t>& codes, bool adjustToWord);
// "u16" or "u32,f32".
std::string DataTypesText(const std::vector<std::int32_t>& codes);

// Comma-separated items; an empty text or an empty item raises.
std::vector<std::string> SplitList(std::string_view option, std::string_view text);
// One register value of the given type code, range-checked; Variant of the code's own type.
Variant ReadRegisterValue(std::string_view option, std::string_view text, std::int32_t code);
// A coil value: 1 0 true false on off.
bool ReadCoilValue(std::string_view option, std::string_view text);
// "01 0A ff", "010Aff" or "01,0a,FF" (separators: space, comma, colon); may be empty.
std::vector<std::uint8_t> ReadHexBytes(std::string_view option, std::string_view text);
// "YYYY-MM-DD hh:mm:ss" (or with a T between date and time), a real calendar time.
DateTimeParts ReadTime(std::string_view option, std::string_view text);

}  // namespace tarvo::ctl
