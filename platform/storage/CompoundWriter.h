#pragma once

#include <string>

#include "platform/storage/Storage.h"

namespace tarvo {

// Turns a Storage tree into the bytes of a compound file with 512-byte sectors, the layout
// Windows writes by default.
class CompoundWriter {
 public:
  // `shown` names the target in errors.
  static std::string ToBytes(const Storage& root, const std::string& shown);
};

}  // namespace tarvo
