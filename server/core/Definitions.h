#pragma once
// The server's shared vocabulary: kinds of transports, masters and tasks, link states, result
// codes and data type codes. The numbers are part of the automation interface: never renumber.

#include <cstdint>
#include <string_view>

namespace tarvo {

// A transport, master or query with this ID does not exist.
inline constexpr std::int32_t kNoID = -1;

enum TTransportType : std::int32_t { ttRS232 = 0, ttRS485 = 1, ttModem = 2, ttTFTP = 3, ttUSB = 4 };
enum TMasterType : std::int32_t { mtMB = 0, mtBB = 1 };
enum TTaskType : std::int32_t { ttData = 0, ttService = 1 };
enum TModbusMode : std::uint8_t { mmRTU = 0, mmASCII = 1 };
enum TModbusParity : std::uint8_t { mpNone = 0, mpOdd = 1, mpEven = 2 };
enum TMasterTaskType : std::int32_t { mtForm = 0, mtParse = 1 };

// Element 0 of a request array. The underlying byte can hold any value a client sent, so a
// refused call type is echoed back as it came.
enum TModBusCallType : std::uint8_t {
  mbExchange = 0,
  mbGetDevName = 1,
  mbReadHoldRegs = 2,
  mbWriteHoldRegs = 3,
  mbReadInputRegs = 4,
  mbReadHoldCoils = 5,
  mbWriteHoldCoils = 6,
  mbReadInputCoils = 7,
  mbReadTimeArch = 8,
  mbReadIndexArch = 9,
  mbReadStatus = 10,
  mbDiagnostics = 11,
  mbReadTimeArch2 = 12,
  mbCustom = 13,
};
inline constexpr int kLastSupportedCallType = mbReadTimeArch2;

// The transport command value (AnyTransport.AddTask) that aborts connection attempts in
// progress; every other value is accepted and ignored.
inline constexpr std::int32_t kTransportCommandAbort = 2;

// Link states of OnStateChanged; the modem transport adds its own progress states 4 to 17.
enum TLinkState : std::int32_t { stClosed = 0, stOpen = 1, stClosing = 2, stOpening = 3 };

// Result of one exchange; 0 to 17 are the type library's MBResult.
enum MBResult : std::int32_t {
  mbcOK = 0,
  mbcNoAnswer = 1,
  mbcCheckSumError = 2,
  mbcERC = 3,
  mbcIFN = 4,
  mbcIDV = 5,
  mbcSDF = 6,
  mbcACK = 7,
  mbcSDB = 8,
  mbcNACK = 9,
  mbcMPE = 10,
  mbcIDA = 11,
  mbcWrongAddr = 12,
  mbcWrongFunNumber = 13,
  mbcUnknownError = 14,
  mbcWrongType = 15,
  mbcNotEnoughData = 16,
  mbcWrongFloat = 17,
  mbcNoTransport = 18,
  mbcWrongArchTime = 19,
};

// Data type codes (MBDataType): the same numbers as the Variant types of the values they give.
enum MBDataType : std::int32_t {
  dtSignedByte = 16,
  dtUnsignedByte = 17,
  dtSignedWord = 2,
  dtUnsignedWord = 18,
  dtSignedDoubleWord = 3,
  dtUnsignedDoubleWord = 19,
  dtSingle = 4,
  dtOneByte = 20,    // not supported by the server
  dtThreeByte = 21,  // not supported by the server
};

// Names used in log lines; an unknown value gives an empty name.
std::string_view TransportTypeName(std::int32_t type);
std::string_view MasterTypeName(std::int32_t type);
// The type library's name of a result code ("mbcOK"), for logs and tools.
std::string_view ResultName(std::int32_t result);

}  // namespace tarvo
