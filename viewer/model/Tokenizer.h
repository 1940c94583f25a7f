#pragma once
// Tokenizer: splits a formula into lower-cased tokens the way the evaluator reads them.
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

// Blanks end a token; each of & ( ) * + - / : ? ^ | is a token of its own; everything else
// (letters, digits, < > = , . $) sticks together, so "r>5" stays one token.
std::vector<std::string> Tokenize(std::string_view formula);

}  // namespace tarvo
