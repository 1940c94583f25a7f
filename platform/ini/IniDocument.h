#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// The lines of a settings file in its on-disk code page, looked up and edited by UTF-8 names,
// so that every line an edit does not touch is written back exactly as it was.
class IniDocument {
 public:
  // Lines end with LF or CR LF.
  explicit IniDocument(std::string_view bytes);

  // Trimmed, without one pair of enclosing quotes; the first of duplicate keys wins.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // As spelled in the file, in file order, each name once.
  std::vector<std::string> Keys(std::string_view section) const;
  std::vector<std::string> Sections() const;

  // Empty when the entry can be written and read back as itself, else why not.
  static std::string WhyNotWritable(std::string_view section, std::string_view key,
                                    std::string_view value);

  // Each returns whether the text changed.
  bool SetValue(std::string_view section, std::string_view key, std::string_view value);
  bool RemoveKey(std::string_view section, std::string_view key);
  bool RemoveSection(std::string_view section);

  // Every line ends with CR LF.
  std::string Bytes() const;

 private:
  enum class Kind { Other, Header, Entry };

  struct Line {
    std::string text;  // without its line break
    Kind kind = Kind::Other;
    std::string name;         // UTF-8 section or key name, trimmed
    std::string folded;       // name for comparison without regard to case
    std::size_t valueAt = 0;  // Entry: where the text after '=' begins
  };

  static Line Parse(std::string text, bool inSection);

  std::vector<Line> lines_;
};

}  // namespace tarvo
