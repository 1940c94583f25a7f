#include "platform/text/Text.h"

#include "platform/text/CodePage.h"
#include "platform/text/Utf8.h"

namespace tarvo {

std::string Cp1251ToUtf8(std::string_view bytes) {
  return CodePage::Windows1251().ToUtf8(bytes);
}

std::string Utf8ToCp1251(std::string_view utf8) {
  return CodePage::Windows1251().FromUtf8(utf8);
}

std::string Cp866ToUtf8(std::string_view bytes) {
  return CodePage::Dos866().ToUtf8(bytes);
}

std::string Utf8ToCp866(std::string_view utf8) {
  return CodePage::Dos866().FromUtf8(utf8);
}

std::string Cp1251CharToUtf8(uint8_t b) {
  std::string out;
  AppendUtf8(out, CodePage::Windows1251().ToUnicode(b));
  return out;
}

std::string Cp866CharToUtf8(uint8_t b) {
  std::string out;
  AppendUtf8(out, CodePage::Dos866().ToUnicode(b));
  return out;
}

}  // namespace tarvo
