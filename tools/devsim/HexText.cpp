#include "tools/devsim/HexText.h"

#include <sstream>

namespace tarvo::devsim {

std::string ToHexText(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::vector<std::uint8_t> FromHexText(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) out.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 16)));
  return out;
}

}  // namespace tarvo::devsim
