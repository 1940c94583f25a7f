#pragma once
// The six-element reply array of every ModBus request: call type, QID, device address, function
// code, value and result.

#include <cstdint>

#include "platform/variant/Variant.h"
#include "server/core/MasterTask.h"

namespace tarvo {

enum ReplyIndex { riCallType = 0, riQID = 1, riDevAddr = 2, riFunNum = 3, riValue = 4, riResult = 5 };
inline constexpr int kReplySize = 6;

// Applies the layout's rules: the value is Null with mbcNoTransport and Unassigned with any other
// failure, for broadcasts (address 0) and for the write call types 3 and 6; the result is an
// unsigned byte with mbcWrongType and mbcNoTransport and a signed 32-bit integer otherwise.
Variant MakeReply(std::uint8_t callType, std::int32_t qid, std::uint8_t devAddr,
                  std::uint8_t funNum, Variant value, std::int32_t result);
Variant MakeReply(const TModbusTask& task, Variant value, std::int32_t result);

}  // namespace tarvo
