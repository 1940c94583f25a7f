#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace tarvo {

// The bytes of one settings file: read whole up to a cap, and replaced whole through a
// temporary file in the same folder and a rename, so a reader sees the old text or the new.
class IniStorage {
 public:
  // A settings file is a few KiB; past this it is damaged or not one at all.
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;

  enum class Status { Ok, Missing, TooLarge, Failed };

  struct Contents {
    Status status = Status::Missing;
    std::string bytes;  // Ok; TooLarge: up to the last line break within kMaxBytes
    std::string error;  // Failed: why, in English
  };

  explicit IniStorage(std::string path) : path_(std::move(path)) {}

  Contents Read() const;
  // Empty on success, else why it failed. The old file keeps its mode and, where allowed,
  // its owner; the folder must exist.
  std::string Replace(std::string_view bytes) const;

 private:
  std::string path_;
};

}  // namespace tarvo
