#pragma once
// Building ModBus request frames and checking answers, in RTU and ASCII framing. Pure functions
// over the 600-byte frame buffer of a transport task: no clocks, threads, logging or I/O.

#include <array>
#include <cstdint>
#include <stdexcept>

#include "platform/variant/Variant.h"
#include "server/core/MasterTask.h"
#include "server/core/TransportTask.h"

namespace tarvo {

using TFrameBuf = std::array<std::uint8_t, kTaskBufSize>;

// A request frame that does not fit the 600-byte buffer. The message is empty, as the master's
// log line expects.
class FrameOverflowError : public std::runtime_error {
 public:
  FrameOverflowError() : std::runtime_error("") {}
};

// Request side.

// Appends one byte: two hexadecimal characters in ASCII framing. Raises FrameOverflowError when
// the buffer is full.
void SetBuf(TFrameBuf& buf, bool ascii, std::uint8_t b, int& len);
// Register values, big-endian; one-byte values take a zero byte first with adjustToWord; values
// of other types write nothing; arrays are written element by element.
void VarToBuf(const Variant& value, TFrameBuf& buf, bool ascii, bool adjustToWord, int& len);
// Coils: function 15 packs the values as bits (element 0 in bit 0); any other function writes
// FF 00 or 00 00 for the first value.
void BoolVarToBuf(const Variant& value, TFrameBuf& buf, bool ascii, std::uint8_t funNum, int& len);
// The whole request frame with its checksum; returns its length. Raises FrameOverflowError when
// the frame would pass the buffer, and VariantError when an exchange byte or a coil cannot be
// converted (the request reader refuses such requests before they get here).
int FormQuery(TFrameBuf& buf, const TModbusTask& task);

// Frames address, function and data bytes with the checksum of the mode: RTU appends the CRC,
// ASCII writes ':' + characters + LRC + CR LF. For answers made by a simulated device and tests.
// Raises FrameOverflowError when the frame does not fit.
int MakeFrame(const std::uint8_t* bytes, int n, TModbusMode mode, TFrameBuf& buf);

// Size rule: bytes of a value or of a data type code (isValue false), -1 when it cannot be sized.
int CalcDataSize(const Variant& v, bool adjustToWord, bool isValue, int maxDims, int mask);

// Answer side. None of these raise, whatever the bytes.

// Decodes one value of the given type code from bytes[pos..n) and advances pos. Returns mbcOK,
// mbcWrongFloat (infinity or not-a-number; pos not advanced) or mbcNotEnoughData.
int BufToVar(const std::uint8_t* bytes, int n, int& pos, bool adjustToWord, std::int64_t code,
             Variant& value);
// Checks and decodes address, function and data (n bytes, checksum removed).
int ParseBuf(const std::uint8_t* bytes, int n, const TModbusTask& task, Variant& value);
// Checks the answer in the transport task (its Buf and Bufsize) against the request, decodes it
// with scratch as room for the bytes of an ASCII answer, and gives the reply array.
int Parse(const TBaseTransportTask& answer, const TModbusTask& task, TFrameBuf& scratch,
          Variant& reply);

}  // namespace tarvo
