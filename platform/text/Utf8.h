#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo {

// Reads Unicode scalar values from UTF-8 without ever reading past the input.
class Utf8Reader {
 public:
  // Stands for one maximal ill-formed subsequence: a stray byte, a cut-off sequence, an
  // overlong form, a surrogate or a value past U+10FFFF.
  static constexpr char32_t kInvalid = 0xFFFFFFFF;

  explicit Utf8Reader(std::string_view utf8) : text_(utf8) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  // The next scalar value, or kInvalid; only when !AtEnd().
  char32_t Next();

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Appends a scalar value; anything that is not one becomes U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace tarvo
