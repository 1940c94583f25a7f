#pragma once
// Bytes as spaced upper-case hex, for logs and tests.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::devsim {

std::string ToHexText(const std::vector<std::uint8_t>& bytes);
// The bytes of whitespace-separated hex pairs; other text is skipped.
std::vector<std::uint8_t> FromHexText(const std::string& text);

}  // namespace tarvo::devsim
