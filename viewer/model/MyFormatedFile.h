#pragma once
// TMyFormatedFile: writes delimited text lines (exports, journals) in code page 1251.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "viewer/model/CustomFormat.h"

namespace tarvo {

// Format kinds: 0 quoted with commas, 1 quoted with semicolons, 2 and 3 tab-separated,
// 4 the custom format. Fields are UTF-8 and reach the file at once, in 1251. A field of an
// unknown kind raises std::range_error; a file that cannot be opened or written raises
// std::system_error.
class TMyFormatedFile {
 public:
  TMyFormatedFile(std::uint8_t kind, TCustomFormat format);

  // Opens the file for appending, or rewrites it.
  void Create(const std::string& path, bool append);
  void WriteField(std::string_view value);
  void EndLine();
  // Flushed and closed; a failure raises, which the destructor cannot do.
  void Close();

  std::uint8_t Kind() const { return kind_; }
  int FieldCount() const { return fieldCount_; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  void Put(std::string_view bytes);

  std::uint8_t kind_;
  TCustomFormat format_;
  std::string path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  int fieldCount_ = 0;
};

}  // namespace tarvo
