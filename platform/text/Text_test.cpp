#include "platform/text/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

namespace tarvo {
namespace {

// Runs `convert` on a heap copy of exactly input.size() bytes, so AddressSanitizer catches
// any read past the end (a std::string would hide it behind its terminator).
template <typename F>
std::string OnExactBuffer(F convert, std::string_view input) {
  auto copy = std::make_unique<char[]>(input.size());
  std::copy(input.begin(), input.end(), copy.get());
  return convert(std::string_view(copy.get(), input.size()));
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

struct Word {
  const char* utf8;
  std::string_view cp1251;
  std::string_view cp866;
};

// Byte forms written down from iconv, independent of our tables.
const Word kWords[] = {
    {"Выход", "\xC2\xFB\xF5\xEE\xE4", "\x82\xEB\xE5\xAE\xA4"},
    {"Модемное соединение",
     "\xCC\xEE\xE4\xE5\xEC\xED\xEE\xE5 \xF1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5",
     "\x8C\xAE\xA4\xA5\xAC\xAD\xAE\xA5 \xE1\xAE\xA5\xA4\xA8\xAD\xA5\xAD\xA8\xA5"},
    {"Мастер ", "\xCC\xE0\xF1\xF2\xE5\xF0 ", "\x8C\xA0\xE1\xE2\xA5\xE0 "},
    {"COM1: порт №3", "COM1: \xEF\xEE\xF0\xF2 \xB9\x33", "COM1: \xAF\xAE\xE0\xE2 \xFC\x33"},
    {"Ёлка и ёж", "\xA8\xEB\xEA\xE0 \xE8 \xB8\xE6", "\xF0\xAB\xAA\xA0 \xA8 \xF1\xA6"},
    {"ВЪЕЗД, Щит, Ўзбек", "\xC2\xDA\xC5\xC7\xC4, \xD9\xE8\xF2, \xA1\xE7\xE1\xE5\xEA",
     "\x82\x9A\x85\x87\x84, \x99\xA8\xE2, \xF6\xA7\xA1\xA5\xAA"},
    {"", "", ""},
};

TEST(TextTest, CyrillicWordsConvertBothWays) {
  for (const Word& w : kWords) {
    SCOPED_TRACE(w.utf8);
    EXPECT_EQ(Cp1251ToUtf8(w.cp1251), w.utf8);
    EXPECT_EQ(Utf8ToCp1251(w.utf8), w.cp1251);
    EXPECT_EQ(Cp866ToUtf8(w.cp866), w.utf8);
    EXPECT_EQ(Utf8ToCp866(w.utf8), w.cp866);
  }
}

TEST(TextTest, EveryByteRoundTripsThroughUtf8) {
  const std::string bytes = AllBytes();
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(bytes)), bytes);
  EXPECT_EQ(Utf8ToCp866(Cp866ToUtf8(bytes)), bytes);
  EXPECT_EQ(Cp1251ToUtf8("\x98"), "\xC2\x98") << "the undefined byte keeps its own value";
}

TEST(TextTest, SingleCharacterFormsMatchTheStringForms) {
  std::string joined1251, joined866;
  for (int b = 0; b < 256; ++b) {
    joined1251 += Cp1251CharToUtf8(static_cast<uint8_t>(b));
    joined866 += Cp866CharToUtf8(static_cast<uint8_t>(b));
  }
  EXPECT_EQ(joined1251, Cp1251ToUtf8(AllBytes()));
  EXPECT_EQ(joined866, Cp866ToUtf8(AllBytes()));
  EXPECT_EQ(Cp1251CharToUtf8(0), std::string(1, '\0'));
  EXPECT_EQ(Cp1251CharToUtf8(0xC0), "А");
}

struct Outside {
  const char* name;
  std::string_view utf8;
  std::string_view cp1251;
  std::string_view cp866;
};

const Outside kOutside[] = {
    {"EuroOnlyIn1251", "5€", "5\x88", "5?"},
    {"BoxOnlyIn866", "═", "?", "\xCD"},
    {"CjkPerCharacter", "日本", "??", "??"},
    {"FourByteIsOneCharacter", "a\U0001F600b", "a?b", "a?b"},
    {"LatinAccent", "ü", "?", "?"},
    {"ReplacementCharacter", "\uFFFD", "?", "?"},
    {"C1OnlyMappedWhere1251LacksIt", "\u0098", "\x98", "?"},
    {"NulKept", std::string_view("\0", 1), std::string_view("\0", 1), std::string_view("\0", 1)},
};

TEST(TextTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  for (const Outside& c : kOutside) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OnExactBuffer(Utf8ToCp1251, c.utf8), c.cp1251);
    EXPECT_EQ(OnExactBuffer(Utf8ToCp866, c.utf8), c.cp866);
  }
}

struct Invalid {
  const char* name;
  std::string_view utf8;
  std::string_view cp1251;  // one '?' per maximal ill-formed subsequence
};

const Invalid kInvalid[] = {
    {"TruncatedTwoByteAtEnd", "\xD0", "?"},
    {"TruncatedTwoByteBeforeAscii", "\xD0\x41", "?A"},
    {"TruncatedThreeByte", "\xE2\x82", "?"},
    {"TruncatedThreeByteBeforeCyrillic", "\xE2\x82\xD0\x94", "?\xC4"},
    {"TruncatedFourByte", "\xF0\x9F\x98", "?"},
    {"OverlongTwoByte", "\xC0\xAF", "??"},
    {"OverlongC1Lead", "\xC1\xBF", "??"},
    {"OverlongThreeByte", "\xE0\x80\xAF", "???"},
    {"OverlongFourByte", "\xF0\x80\x80\xAF", "????"},
    {"Surrogate", "\xED\xA0\x80", "???"},
    {"BeyondU10FFFF", "\xF4\x90\x80\x80", "????"},
    {"LeadF5", "\xF5\x80\x80\x80", "????"},
    {"LoneContinuations", "\x80\xBF", "??"},
    {"ByteFF", "\xFF", "?"},
    {"BadBetweenGood", "\xD0\x94\x80\xD0\x94", "\xC4?\xC4"},
    {"LeadInterruptedByLead", "\xE2\xD0\x94", "?\xC4"},
};

TEST(TextTest, IllFormedUtf8BecomesQuestionMarks) {
  for (const Invalid& c : kInvalid) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OnExactBuffer(Utf8ToCp1251, c.utf8), c.cp1251);
    // 866 has Д too (0x84), so only that byte differs between the code pages.
    std::string cp866(c.cp1251);
    for (char& ch : cp866) {
      if (ch == '\xC4') ch = '\x84';
    }
    EXPECT_EQ(OnExactBuffer(Utf8ToCp866, c.utf8), cp866);
  }
}

}  // namespace
}  // namespace tarvo
