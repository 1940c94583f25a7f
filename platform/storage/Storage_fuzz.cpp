#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/storage/CompoundFile.h"
#include "platform/storage/StorageError.h"

namespace {

void Walk(const tarvo::Storage& node) {
  for (const auto& name : node.StorageNames()) Walk(node.OpenStorage(name));
  for (const auto& name : node.StreamNames()) (void)node.ReadStream(name).size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    auto file = tarvo::CompoundFile::OpenBytes(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    Walk(file.Root());
    // Whatever was read must write out and read back again.
    auto again = tarvo::CompoundFile::OpenBytes(file.ToBytes(), "fuzz-again");
    Walk(again.Root());
  } catch (const tarvo::StorageError&) {
  }
  return 0;
}
