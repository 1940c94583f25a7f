#pragma once
// TOperations: evaluates a read, write or archive-column formula over the current r and w values.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant/Variant.h"

namespace tarvo {

// One token of a formula and, once bound, one node of its tree. The nodes of one evaluation
// live in one list that owns them; First and Second point into it.
struct Tnode {
  std::uint8_t Kind = 0;  // 0 operand, 1 operator, 2 "(", 3 ")"
  std::uint8_t Op = 15;   // operator code; 15 for operands
  std::int32_t Priority = 0;
  Variant Value;
  Tnode* First = nullptr;   // left operand of a binary operator, argument of a unary one
  Tnode* Second = nullptr;  // right operand of a binary operator
};

// Evaluates one formula per call; keeps only the outcome of the last call.
class TOperations {
 public:
  // Error codes, indices into the message table.
  static constexpr std::int32_t kUnknown = 0;
  static constexpr std::int32_t kNoFormula = 1;
  static constexpr std::int32_t kBadIndex = 2;
  static constexpr std::int32_t kUnknownOperand = 3;
  static constexpr std::int32_t kBrackets = 4;
  static constexpr std::int32_t kAddSub = 5;
  static constexpr std::int32_t kMul = 6;
  static constexpr std::int32_t kDivide = 7;
  static constexpr std::int32_t kDivByZero = 8;
  static constexpr std::int32_t kPower = 9;
  static constexpr std::int32_t kExp = 10;
  static constexpr std::int32_t kSin = 11;
  static constexpr std::int32_t kCos = 12;
  static constexpr std::int32_t kTan = 13;
  static constexpr std::int32_t kLn = 14;
  static constexpr std::int32_t kNot = 15;
  static constexpr std::int32_t kAnd = 16;
  static constexpr std::int32_t kOr = 17;
  static constexpr std::int32_t kXor = 18;
  static constexpr std::int32_t kShl = 19;
  static constexpr std::int32_t kShr = 20;
  static constexpr std::int32_t kDiv = 21;
  static constexpr std::int32_t kMod = 22;
  static constexpr std::int32_t kAbs = 23;
  static constexpr std::int32_t kGreater = 24;
  static constexpr std::int32_t kLess = 25;
  static constexpr std::int32_t kEqual = 26;
  static constexpr std::int32_t kNotEqual = 27;
  static constexpr std::int32_t kGreaterEqual = 28;
  static constexpr std::int32_t kLessEqual = 29;

  // rValues and wValues are a scalar (one element) or a one-dimensional array; wValues is null
  // or empty for read-only frames. On failure result is left empty and false is returned.
  bool Evaluate(std::string_view formula, const Variant& rValues, Variant& result,
                std::int32_t unitIndex, std::int32_t itemIndex,
                const Variant* wValues = nullptr);

  // The message of ErrorCode(), UTF-8.
  std::string_view ErrorText() const;
  static std::string_view ErrorText(std::int32_t code);

  bool Ok() const { return ok_; }
  std::int32_t ErrorCode() const { return errorCode_; }
  std::int32_t ItemIndex() const { return itemIndex_; }
  std::int32_t UnitIndex() const { return unitIndex_; }

 private:
  bool Fail(std::int32_t code);
  bool Operand(const std::string& token, const Variant& rValues, const Variant* wValues,
               Variant& value);
  Tnode* Reduce(std::vector<Tnode*>& group);
  bool Apply(Tnode& node);

  bool ok_ = true;
  std::int32_t errorCode_ = 0;
  std::int32_t itemIndex_ = 0;
  std::int32_t unitIndex_ = 0;
};

}  // namespace tarvo
