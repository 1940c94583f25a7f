#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// A write to a settings file that did not happen; the message names the file.
class IniError : public std::runtime_error {
 public:
  using runtime_error::runtime_error;
};

// A Windows-style settings file of [Section] headers and key=value lines, kept in code page
// 1251 with CR LF line breaks and handled in UTF-8. Nothing is cached: every read looks at the
// file as it is now and every write reaches it at once, so programs sharing it see each other's
// changes. Section and key names match without regard to case, Latin and Cyrillic alike.
class IniFile {
 public:
  explicit IniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // A missing or unreadable file, section or key gives `def`.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Decimal, or hexadecimal after "0x" or "$", with an optional sign; anything else, or a
  // value outside 32 bits, gives `def`.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  // Any integer but 0 is true; a value that is not an integer gives `def`.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  // Raise IniError when the file cannot be written, and for a line break in any argument or a
  // key that would not read back as a key (empty, holding '=', starting with ';' or '[').
  // A value is written as given, so its outer blanks and quotes do not survive a read.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // A section counts only while it holds a key; a bare header does not.
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Names as spelled in the file, in file order, each once.
  std::vector<std::string> ReadSection(std::string_view section) const;
  std::vector<std::string> ReadSections() const;

  // Every copy of the key in the section goes; a key or section that is not there leaves the
  // file untouched.
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

 private:
  std::string path_;
};

}  // namespace tarvo
