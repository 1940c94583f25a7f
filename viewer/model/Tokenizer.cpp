#include "viewer/model/Tokenizer.h"

namespace tarvo {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsSingle(char c) {
  switch (c) {
    case '&': case '(': case ')': case '*': case '+': case '-':
    case '/': case ':': case '?': case '^': case '|':
      return true;
    default:
      return false;
  }
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string> Tokenize(std::string_view formula) {
  std::vector<std::string> tokens;
  std::string current;
  auto close = [&] {
    if (!current.empty()) tokens.push_back(std::move(current));
    current.clear();
  };
  for (char c : formula) {
    if (IsBlank(c)) {
      close();
    } else if (IsSingle(c)) {
      close();
      tokens.emplace_back(1, c);
    } else {
      current.push_back(Lower(c));
    }
  }
  close();
  return tokens;
}

}  // namespace tarvo
