#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo {

// The rules an entry name must meet so that the file format can hold it (UTF-16, 31 units).
class StorageName {
 public:
  static constexpr std::size_t kMaxUnits = 31;

  // Raise StorageError for an empty name, invalid UTF-8, more than 31 UTF-16 units, NUL, or a
  // character the format reserves ('/', '\\', ':', '!'). Leading control characters stay
  // allowed: Windows names its property-set streams "\x05SummaryInformation" and the like.
  static void Check(std::string_view name);
  // Readers compare names without regard to case, so two such names cannot share a folder.
  static bool SameEntry(std::string_view a, std::string_view b);
  static std::size_t Utf16Units(std::string_view utf8);
};

}  // namespace tarvo
