#include "platform/text/CodePage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/text/Utf8.h"

namespace tarvo {
namespace {

// glibc iconv, the reference the tables were generated from.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // nullopt when iconv has no mapping for the input.
  std::optional<std::string> Convert(const std::string& input) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string in = input;
    char out[16];
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out;
    size_t outLeft = sizeof(out);
    if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      return std::nullopt;
    }
    return std::string(out, outPtr);
  }

 private:
  iconv_t cd_;
};

struct Page {
  const char* name;
  const CodePage& (*get)();
  std::vector<uint8_t>
      undefined;  // bytes iconv lacks; they map to the C1 code point of the same value
};

void PrintTo(const Page& p, std::ostream* os) {
  *os << p.name;
}

class CodePageTableTest : public testing::TestWithParam<Page> {};

TEST_P(CodePageTableTest, EveryByteMatchesIconv) {
  const Page& page = GetParam();
  Iconv toUtf8("UTF-8", page.name);
  ASSERT_TRUE(toUtf8.ok());
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    std::string ours;
    AppendUtf8(ours, page.get().ToUnicode(static_cast<uint8_t>(b)));
    const std::optional<std::string> reference =
        toUtf8.Convert(std::string(1, static_cast<char>(b)));
    if (reference) {
      EXPECT_EQ(ours, *reference);
    } else {
      EXPECT_NE(std::find(page.undefined.begin(), page.undefined.end(), b), page.undefined.end());
      EXPECT_EQ(page.get().ToUnicode(static_cast<uint8_t>(b)), static_cast<char32_t>(b));
    }
  }
}

TEST_P(CodePageTableTest, EveryUnicodeCharacterEncodesAsIconvDoes) {
  const Page& page = GetParam();
  Iconv fromUtf8(page.name, "UTF-8");
  ASSERT_TRUE(fromUtf8.ok());
  int mismatches = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; cp = cp < 0x10000 ? cp + 1 : cp + 0x3FF) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string utf8;
    AppendUtf8(utf8, cp);
    std::optional<std::string> expected = fromUtf8.Convert(utf8);
    for (uint8_t b : page.undefined) {
      if (cp == b) expected = std::string(1, static_cast<char>(b));
    }
    const std::string ours = page.get().FromUtf8(utf8);
    if (ours != expected.value_or("?") && ++mismatches <= 5) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(cp) << " gives '" << ours << "'";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(CodePage, CodePageTableTest,
                         testing::Values(Page{"CP1251", &CodePage::Windows1251, {0x98}},
                                         Page{"CP866", &CodePage::Dos866, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvo
