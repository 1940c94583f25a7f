#pragma once
// The master property array: [0] master type, [1] device address, [2] framing, [3] parity,
// [4] master-level attempts, [5] AdjustToWord, [6] OptimalUseFunction.

#include <cstdint>
#include <stdexcept>

#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"

namespace tarvo {

// What a ModBus master copies into every request it adds.
struct TModbusSettings {
  std::uint8_t DevAddr = 0;
  TModbusMode Mode = mmRTU;
  TModbusParity Parity = mpNone;
  std::int32_t Retries = 0;
  bool AdjustToWord = false;
  bool OptimalUseFunction = false;
};

inline constexpr int kMasterPropsSize = 7;

// Element 0, read when the master is created. Raises VariantError when it cannot be read.
std::int32_t ReadMasterType(const Variant& props);

// Elements 1 to 6, all or nothing: raises VariantError (and changes nothing) when the array is
// not a one-dimensional array starting at 0 with seven elements, or an element cannot be read.
// Address, framing and parity keep their low 8 bits, as the layout says; a framing or parity
// outside the enumeration is refused, and so are negative attempts.
TModbusSettings ReadModbusSettings(const Variant& props);

}  // namespace tarvo
