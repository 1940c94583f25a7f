#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// 8-bit Cyrillic text as stored and exchanged, to and from the UTF-8 used inside the programs.
// Every byte 0..255 survives a trip to UTF-8 and back. Towards 8 bits, characters the code
// page lacks and ill-formed UTF-8 (one per maximal bad subsequence) become '?'; nothing throws.

std::string Cp1251ToUtf8(std::string_view bytes);
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp866ToUtf8(std::string_view bytes);
std::string Utf8ToCp866(std::string_view utf8);

// One byte as one character, e.g. each byte of a device's name.
std::string Cp1251CharToUtf8(uint8_t b);
std::string Cp866CharToUtf8(uint8_t b);

}  // namespace tarvo
