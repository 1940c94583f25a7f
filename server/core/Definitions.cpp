#include "server/core/Definitions.h"

namespace tarvo {

std::string_view TransportTypeName(std::int32_t type) {
  switch (type) {
    case ttRS232: return "RS232";
    case ttRS485: return "RS485";
    case ttModem: return "Модемное соединение";
    case ttTFTP: return "TrivialFTP";
    case ttUSB: return "USB";
    default: return "";
  }
}

std::string_view MasterTypeName(std::int32_t type) {
  switch (type) {
    case mtMB: return "Modbus";
    case mtBB: return "Bitbus";
    default: return "";
  }
}

std::string_view ResultName(std::int32_t result) {
  static constexpr std::string_view kNames[] = {
      "mbcOK",         "mbcNoAnswer",     "mbcCheckSumError",  "mbcERC",
      "mbcIFN",        "mbcIDV",          "mbcSDF",            "mbcACK",
      "mbcSDB",        "mbcNACK",         "mbcMPE",            "mbcIDA",
      "mbcWrongAddr",  "mbcWrongFunNumber", "mbcUnknownError", "mbcWrongType",
      "mbcNotEnoughData", "mbcWrongFloat", "mbcNoTransport",   "mbcWrongArchTime",
  };
  if (result < 0 || result >= static_cast<std::int32_t>(std::size(kNames))) return "";
  return kNames[result];
}

}  // namespace tarvo
