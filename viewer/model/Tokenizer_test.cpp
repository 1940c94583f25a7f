#include "viewer/model/Tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

using Tokens = std::vector<std::string>;

struct TokenCase {
  const char* name;
  std::string formula;
  Tokens expected;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }

class TokenizeTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenizeTest, Splits) {
  EXPECT_EQ(Tokenize(GetParam().formula), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokenizer, TokenizeTest,
    ::testing::Values(
        TokenCase{"empty", "", {}},
        TokenCase{"blanks_only", " \t\r\n ", {}},
        TokenCase{"single_chars_split_without_blanks", "r*0.1+2", {"r", "*", "0.1", "+", "2"}},
        TokenCase{"every_single_char", "&()*+-/:?^|", {"&", "(", ")", "*", "+", "-", "/", ":", "?", "^", "|"}},
        TokenCase{"comparison_sticks_to_operands", "r>5", {"r>5"}},
        TokenCase{"comparison_with_blanks", "r >= 5", {"r", ">=", "5"}},
        TokenCase{"lowered", "SIN R1 And $FF", {"sin", "r1", "and", "$ff"}},
        TokenCase{"exponent_breaks_apart", "1e-3", {"1e", "-", "3"}},
        TokenCase{"tabs_and_newlines_are_blanks", "1\t+\n2", {"1", "+", "2"}},
        TokenCase{"leading_and_trailing_blanks", "  7  ", {"7"}},
        TokenCase{"non_ascii_kept_as_is", "\xd0\x96 + 1", {"\xd0\x96", "+", "1"}},
        TokenCase{"embedded_nul_is_an_ordinary_char", std::string("1\0" "2", 3), {std::string("1\0" "2", 3)}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvo
