#pragma once

#include <string>
#include <string_view>

namespace tarvo {

// Replaces a file's contents all at once: a reader or a crash sees either the old file or the
// new one, never a half-written mix.
class SafeFile {
 public:
  // Writes a temporary file beside `path`, syncs it and renames it over `path`. On failure the
  // temporary file is removed, `path` is left as it was, and StorageError names `path`.
  static void Replace(const std::string& path, std::string_view bytes);
};

}  // namespace tarvo
