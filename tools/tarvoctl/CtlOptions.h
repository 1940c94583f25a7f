#pragma once
// The command line of tarvoctl: which link to open, the master's settings, the one request to
// send and how often, and how to print the replies.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/variant/OleDate.h"
#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"
#include "server/transports/TransportSpeed.h"
#include "tools/tarvoctl/CtlParse.h"

namespace tarvo::ctl {

// The kinds of link tarvoctl can open; each has its own block of options below.
enum class LinkKind { None, RS232, RS485 };

// What the RS-232 and RS-485 property arrays carry.
struct SerialLinkOptions {
  std::string port;               // COMn or an absolute device path
  int speedIndex = ts9600;
  int flowControl = cfcNone;      // RS-232 only
  std::int32_t answerDelayMs = 1000;
  std::int32_t byteTimeoutMs = -1;  // -1: the character gap of the speed
  std::int32_t attempts = 1;
};

// The master property array.
struct MasterOptions {
  std::uint8_t addr = 1;
  TModbusMode mode = mmRTU;
  TModbusParity parity = mpNone;
  std::int32_t retries = 1;  // attempts per request
  bool adjustToWord = false;
  bool optimal = false;  // OptimalUseFunction
};

// The one request: the fields of the request array its call type uses.
struct RequestOptions {
  TModBusCallType call = mbExchange;
  std::uint16_t regAddr = 0;            // registers and coils
  std::int32_t count = 1;               // items, coils or archive records
  std::vector<std::int32_t> dataType{dtUnsignedWord};  // one code, or a record's codes
  Variant value;                        // register values (typed) or coils (Boolean)
  std::uint8_t funNum = 0;              // exchange
  std::vector<std::uint8_t> bytes;      // exchange data after address and function
  std::uint16_t diagSubFunc = 0;
  std::uint16_t diagData = 0;
  std::uint16_t archNum = 0;
  std::uint16_t archIndex = 0;
  DateTimeParts archTime;
  std::uint8_t archType = 3;            // 0 hour, 1 day, 2 month, 3 second
  std::int32_t timeField = -1;          // record field holding the record's time; -1: no check
};

inline constexpr std::int32_t kDefaultTimeoutMs = 30000;

struct CtlOptions {
  bool help = false;  // nothing else is read when set
  LinkKind link = LinkKind::None;
  SerialLinkOptions serial;
  MasterOptions master;
  RequestOptions request;
  std::uint32_t periodMs = 0;  // 0: one-shot
  std::int32_t countReplies = 1;  // 0: until interrupted
  std::int32_t timeoutMs = kDefaultTimeoutMs;  // per reply; periodic: from the previous reply
  std::int32_t qid = 1;
  bool json = false;
};

// True for the call types that may repeat with --period.
bool CallAllowsPeriod(TModBusCallType call);

// argv[0] is the program name. Raises CtlUsageError naming the option or value at fault.
CtlOptions ParseCtlOptions(int argc, const char* const* argv);
CtlOptions ParseCtlOptions(const std::vector<std::string>& args);  // without the program name

// What --help prints.
std::string CtlUsageText();

}  // namespace tarvo::ctl
