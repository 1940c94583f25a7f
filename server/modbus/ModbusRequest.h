#pragma once
// Reading a client's request array into a ModBus request: element layout by call type, the
// function to send, the sizes, and the refusal rules.

#include "platform/variant/Variant.h"
#include "server/core/MasterProps.h"
#include "server/core/MasterTask.h"

namespace tarvo {

// Longest period a client may ask for; longer ones are shortened to it.
inline constexpr std::uint32_t kMaxPeriodMs = 600000;

// Reads the (normalised) request array into task. task.AdjustToWord and task.OptimalUseFunction
// must already hold the master's settings, since sizes depend on them. Never raises: a request
// that cannot be built is marked WrongType, keeping the call type and QID read so far.
void ReadRequest(const Variant& request, TModbusTask& task);

// What a master does when a request is added, before queueing it: copies its settings, reads
// the array, and fills TaskType, DevAddr (except for exchanges), Mode, Parity and the attempts.
TModbusTask MakeRequest(const Variant& request, const TModbusSettings& settings);

}  // namespace tarvo
