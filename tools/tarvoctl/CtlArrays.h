#pragma once
// The arrays tarvoctl hands to the server: the transport and master property arrays and the
// request array, built from the command line. All are one-dimensional from 0.

#include "platform/variant/Variant.h"
#include "tools/tarvoctl/CtlOptions.h"

namespace tarvo::ctl {

// RS-232: [0] type, [1] port, [2] speed index, [3] flow control, [4] answer delay,
// [5] least inter-byte timeout, [6] attempts. RS-485: the same without the flow control.
Variant TransportProps(const CtlOptions& o);
// [0] master type (ModBus), [1] address, [2] framing, [3] parity, [4] attempts,
// [5] AdjustToWord, [6] OptimalUseFunction.
Variant MasterProps(const CtlOptions& o);
// The request array of the chosen call type: [0] call type, [1] QID, then its own elements.
Variant RequestArray(const CtlOptions& o);

}  // namespace tarvo::ctl
