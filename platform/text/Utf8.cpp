#include "platform/text/Utf8.h"

#include <cstdint>

namespace tarvo {

// Ranges as in the Unicode table of well-formed byte sequences: narrowing the second byte
// rejects overlong forms, surrogates and values past U+10FFFF without decoding them first.
char32_t Utf8Reader::Next() {
  const auto lead = static_cast<uint8_t>(text_[pos_++]);
  if (lead < 0x80) return lead;

  int length;
  uint8_t low = 0x80, high = 0xBF;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kInvalid;  // a continuation byte, C0/C1 (always overlong) or F5..FF
  }

  for (int i = 1; i < length; ++i) {
    if (pos_ >= text_.size()) return kInvalid;
    const auto b = static_cast<uint8_t>(text_[pos_]);
    if (b < low || b > high) return kInvalid;  // left for the next call to judge
    cp = (cp << 6) | (b & 0x3F);
    ++pos_;
    low = 0x80;
    high = 0xBF;
  }
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace tarvo
