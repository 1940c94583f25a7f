#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/storage/Storage.h"

namespace tarvo {

// Loads a whole compound file into a Storage tree, refusing files that would take more memory
// or deeper recursion than a real project file ever needs.
class CompoundReader {
 public:
  static constexpr std::uint64_t kMaxTotalBytes = 256ull << 20;
  static constexpr int kMaxDepth = 64;
  static constexpr std::uint64_t kMaxEntries = 1u << 20;

  // `shown` names the source in errors.
  static void ReadFile(const std::string& path, Storage& root);
  static void ReadMemory(std::string_view bytes, const std::string& shown, Storage& root);
};

}  // namespace tarvo
