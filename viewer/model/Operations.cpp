#include "viewer/model/Operations.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "viewer/model/Literal.h"
#include "viewer/model/Tokenizer.h"

namespace tarvo {
namespace {

constexpr std::uint8_t kOperand = 0;
constexpr std::uint8_t kOperator = 1;
constexpr std::uint8_t kOpen = 2;
constexpr std::uint8_t kClose = 3;
constexpr std::uint8_t kOperandCode = 15;

enum OpCode : std::uint8_t {
  kOpSub = 0, kOpAdd = 1, kOpMul = 2, kOpDivide = 3, kOpPow = 4, kOpSin = 5, kOpCos = 6,
  kOpTg = 7, kOpExp = 8, kOpNot = 9, kOpAnd = 10, kOpOr = 11, kOpXor = 12, kOpShl = 13,
  kOpShr = 14, kOpLn = 16, kOpDiv = 17, kOpMod = 18, kOpAbs = 19, kOpGt = 20, kOpLt = 21,
  kOpEq = 22, kOpNe = 23, kOpGe = 24, kOpLe = 25, kOpTrunc = 26, kOpFrac = 27,
};

struct OpInfo {
  std::string_view token;
  std::uint8_t code;
  std::int32_t priority;
};

constexpr std::array<OpInfo, 31> kOps{{
    {"-", kOpSub, 0},      {"+", kOpAdd, 0},     {"*", kOpMul, 2},     {"/", kOpDivide, 2},
    {"^", kOpPow, 3},      {"sin", kOpSin, 4},   {"cos", kOpCos, 4},   {"tg", kOpTg, 4},
    {"exp", kOpExp, 4},    {"not", kOpNot, 6},   {"and", kOpAnd, 6},   {"&", kOpAnd, 6},
    {"or", kOpOr, 6},      {"|", kOpOr, 6},      {"xor", kOpXor, 6},   {"shl", kOpShl, 6},
    {"<<", kOpShl, 6},     {"shr", kOpShr, 6},   {">>", kOpShr, 6},    {"ln", kOpLn, 4},
    {"div", kOpDiv, 5},    {"mod", kOpMod, 5},   {"abs", kOpAbs, 4},   {">", kOpGt, -1},
    {"<", kOpLt, -1},      {"=", kOpEq, -1},     {"<>", kOpNe, -1},    {">=", kOpGe, -1},
    {"<=", kOpLe, -1},     {"trunc", kOpTrunc, 4}, {"frac", kOpFrac, 4},
}};

const OpInfo* FindOp(std::string_view token) {
  for (const OpInfo& op : kOps)
    if (op.token == token) return &op;
  return nullptr;
}

bool IsUnaryPrefix(std::uint8_t op) {
  switch (op) {
    case kOpSin: case kOpCos: case kOpTg: case kOpExp: case kOpNot: case kOpLn: case kOpAbs:
    case kOpTrunc: case kOpFrac:
      return true;
    default:
      return false;
  }
}

// The code reported when an operator is misused (wrong arity, bad operand type, overflow).
std::int32_t OpError(std::uint8_t op) {
  switch (op) {
    case kOpSub: case kOpAdd: return TOperations::kAddSub;
    case kOpMul: return TOperations::kMul;
    case kOpDivide: return TOperations::kDivide;
    case kOpPow: return TOperations::kPower;
    case kOpSin: return TOperations::kSin;
    case kOpCos: return TOperations::kCos;
    case kOpTg: return TOperations::kTan;
    case kOpExp: return TOperations::kExp;
    case kOpLn: return TOperations::kLn;
    case kOpNot: return TOperations::kNot;
    case kOpAnd: return TOperations::kAnd;
    case kOpOr: return TOperations::kOr;
    case kOpXor: return TOperations::kXor;
    case kOpShl: return TOperations::kShl;
    case kOpShr: return TOperations::kShr;
    case kOpDiv: return TOperations::kDiv;
    case kOpMod: return TOperations::kMod;
    case kOpAbs: case kOpTrunc: case kOpFrac: return TOperations::kAbs;
    case kOpGt: case kOpLt: case kOpEq: case kOpNe: case kOpGe: case kOpLe:
      return TOperations::kGreater + (op - kOpGt);
    default: return TOperations::kUnknown;
  }
}

constexpr std::array<std::string_view, 30> kMessages{
    "#Неизвестная ошибка",
    "#Нет формулы",
    "#Недопустимый индекс",
    "#Неизвестный операнд",
    "#Не хватает скобок",
    "#Ошибка вычитания/сложения",
    "#Ошибка произведения",
    "#Ошибка деления",
    "#Деление на ноль",
    "#Ошибка степени",
    "#Ошибка експоненты",
    "#Ошибка синнуса",
    "#Ошибка косинуса",
    "#Ошибка тангенса",
    "#Ошибка логарифма",
    "#Ошибка NOT",
    "#Ошибка AND",
    "#Ошибка OR",
    "#Ошибка XOR",
    "#Ошибка SHL",
    "#Ошибка SHR",
    "#Ошибка Div",
    "#Ошибка MOD",
    "#Ошибка модуля",
    "#Ошибка >",
    "#Ошибка <",
    "#Ошибка =",
    "#Ошибка <>",
    "#Ошибка >=",
    "#Ошибка <=",
};

// ---- arithmetic ----

bool IsFloat(const Variant& v) {
  const VarType vt = v.vt();
  return vt == VT_R4 || vt == VT_R8;
}

// Throws VariantError when the value has no integer form.
std::int64_t AsInt(const Variant& v) {
  switch (v.vt()) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_INT: case VT_UINT: case VT_BOOL:
      return v.RawInt();
    default:
      return v.ToInt64();
  }
}

double AsFloat(const Variant& v) {
  switch (v.vt()) {
    case VT_R4: case VT_R8:
      return v.RawReal();
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_INT: case VT_UINT: case VT_BOOL:
      return static_cast<double>(v.RawInt());
    default:
      return v.ToDouble();
  }
}

// Complement within the value's own width, so a 16-bit 0x00FF becomes 0xFF00.
Variant Complement(const Variant& v) {
  const std::uint64_t bits = ~static_cast<std::uint64_t>(v.RawInt());
  switch (v.vt()) {
    case VT_I1: return Variant(static_cast<std::int64_t>(static_cast<std::int8_t>(bits)));
    case VT_UI1: return Variant(static_cast<std::int64_t>(static_cast<std::uint8_t>(bits)));
    case VT_I2: return Variant(static_cast<std::int64_t>(static_cast<std::int16_t>(bits)));
    case VT_UI2: return Variant(static_cast<std::int64_t>(static_cast<std::uint16_t>(bits)));
    case VT_I4: case VT_INT:
      return Variant(static_cast<std::int64_t>(static_cast<std::int32_t>(bits)));
    case VT_UI4: case VT_UINT:
      return Variant(static_cast<std::int64_t>(static_cast<std::uint32_t>(bits)));
    case VT_UI8: return Variant(~v.RawUInt());
    default: return Variant(~AsInt(v));
  }
}

bool FiniteResult(double x, Variant& out) {
  if (!std::isfinite(x)) return false;
  out = Variant(x);
  return true;
}

bool TruncToInt(double x, std::int64_t& out) {
  const double t = std::trunc(x);
  // 2^63 is exactly representable; anything at or past it (or NaN) has no 64-bit form.
  if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return false;
  out = static_cast<std::int64_t>(t);
  return true;
}

// Computes node.Value from its operands; false when the operator cannot be applied.
bool Compute(std::uint8_t op, const Variant* a, const Variant* b, Variant& out) {
  if (a == nullptr) return false;
  const bool binary = b != nullptr;
  const bool real = IsFloat(*a) || (binary && IsFloat(*b));

  if (op == kOpSub || op == kOpAdd) {
    const bool sub = op == kOpSub;
    if (real) {
      const double x = AsFloat(*a);
      if (!binary) return FiniteResult(sub ? -x : x, out);
      const double y = AsFloat(*b);
      return FiniteResult(sub ? x - y : x + y, out);
    }
    const std::int64_t x = AsInt(*a);
    std::int64_t r = x;
    if (!binary) {
      if (sub && __builtin_sub_overflow(std::int64_t{0}, x, &r)) return false;
    } else {
      const std::int64_t y = AsInt(*b);
      if (sub ? __builtin_sub_overflow(x, y, &r) : __builtin_add_overflow(x, y, &r)) return false;
    }
    out = Variant(r);
    return true;
  }

  if (IsUnaryPrefix(op)) {
    if (binary) return false;
    switch (op) {
      case kOpSin: return FiniteResult(std::sin(AsFloat(*a)), out);
      case kOpCos: return FiniteResult(std::cos(AsFloat(*a)), out);
      case kOpTg: return FiniteResult(std::tan(AsFloat(*a)), out);
      case kOpExp: return FiniteResult(std::exp(AsFloat(*a)), out);
      case kOpLn: {
        const double x = AsFloat(*a);
        if (!(x > 0)) return false;
        return FiniteResult(std::log(x), out);
      }
      case kOpNot:
        if (real) return false;
        out = Complement(*a);
        return true;
      case kOpAbs:
        if (real) return FiniteResult(std::fabs(AsFloat(*a)), out);
        if (AsInt(*a) == std::numeric_limits<std::int64_t>::min()) return false;
        out = Variant(static_cast<std::int64_t>(std::llabs(AsInt(*a))));
        return true;
      case kOpTrunc: {
        std::int64_t r = 0;
        if (!real) r = AsInt(*a);
        else if (!TruncToInt(AsFloat(*a), r)) return false;
        out = Variant(r);
        return true;
      }
      case kOpFrac: {
        if (!real) {
          AsInt(*a);  // still rejects values without a number form
          out = Variant(0.0);
          return true;
        }
        const double x = AsFloat(*a);
        return FiniteResult(x - std::trunc(x), out);
      }
      default: return false;
    }
  }

  if (!binary) return false;
  switch (op) {
    case kOpMul: {
      if (real) return FiniteResult(AsFloat(*a) * AsFloat(*b), out);
      std::int64_t r = 0;
      if (__builtin_mul_overflow(AsInt(*a), AsInt(*b), &r)) return false;
      out = Variant(r);
      return true;
    }
    case kOpDivide: {
      const double y = AsFloat(*b);
      if (y == 0) return false;  // reported as division by zero by the caller
      return FiniteResult(AsFloat(*a) / y, out);
    }
    case kOpPow: return FiniteResult(std::pow(AsFloat(*a), AsFloat(*b)), out);
    case kOpAnd: case kOpOr: case kOpXor: {
      if (real) return false;
      const std::int64_t x = AsInt(*a), y = AsInt(*b);
      out = Variant(op == kOpAnd ? (x & y) : op == kOpOr ? (x | y) : (x ^ y));
      return true;
    }
    case kOpShl: case kOpShr: {
      if (real) return false;
      const auto x = static_cast<std::uint64_t>(AsInt(*a));
      const std::int64_t n = AsInt(*b);
      if (n < 0 || n > 63) return false;
      out = Variant(static_cast<std::int64_t>(op == kOpShl ? x << n : x >> n));
      return true;
    }
    case kOpDiv: case kOpMod: {
      if (real) return false;
      const std::int64_t x = AsInt(*a), y = AsInt(*b);
      if (y == 0) return false;  // reported as division by zero by the caller
      if (y == -1) {
        if (op == kOpMod) {
          out = Variant(std::int64_t{0});
          return true;
        }
        if (x == std::numeric_limits<std::int64_t>::min()) return false;
      }
      out = Variant(op == kOpDiv ? x / y : x % y);
      return true;
    }
    case kOpGt: case kOpLt: case kOpEq: case kOpNe: case kOpGe: case kOpLe: {
      bool r = false;
      if (real) {
        const double x = AsFloat(*a), y = AsFloat(*b);
        r = op == kOpGt ? x > y : op == kOpLt ? x < y : op == kOpEq ? x == y
          : op == kOpNe ? x != y : op == kOpGe ? x >= y : x <= y;
      } else {
        const std::int64_t x = AsInt(*a), y = AsInt(*b);
        r = op == kOpGt ? x > y : op == kOpLt ? x < y : op == kOpEq ? x == y
          : op == kOpNe ? x != y : op == kOpGe ? x >= y : x <= y;
      }
      out = Variant(std::int64_t{r ? 1 : 0});
      return true;
    }
    default: return false;
  }
}

bool IsZeroDivisor(std::uint8_t op, const Variant* b) {
  if (b == nullptr) return false;
  try {
    if (op == kOpDivide) return AsFloat(*b) == 0;
    if ((op == kOpDiv || op == kOpMod) && !IsFloat(*b)) return AsInt(*b) == 0;
  } catch (const VariantError&) {
  }
  return false;
}

// The value at index among values: a scalar is a one-element collection.
bool Element(const Variant& values, std::int64_t index, Variant& out) {
  const Variant* item = nullptr;
  if (values.IsArray()) {
    const auto& items = values.Array().Items();
    if (index < 0 || index >= static_cast<std::int64_t>(items.size())) return false;
    item = &items[static_cast<std::size_t>(index)];
  } else {
    if (index != 0) return false;
    item = &values;
  }
  out = item->vt() == VT_R4 ? Variant(item->RawReal()) : *item;
  return true;
}

}  // namespace

std::string_view TOperations::ErrorText(std::int32_t code) {
  if (code < 0 || code >= static_cast<std::int32_t>(kMessages.size())) return kMessages[kUnknown];
  return kMessages[static_cast<std::size_t>(code)];
}

std::string_view TOperations::ErrorText() const { return ErrorText(errorCode_); }

bool TOperations::Fail(std::int32_t code) {
  ok_ = false;
  errorCode_ = code;
  return false;
}

bool TOperations::Operand(const std::string& token, const Variant& rValues,
                          const Variant* wValues, Variant& value) {
  const char head = token.front();
  if (head == 'r' || head == 'w') {
    const bool isR = head == 'r';
    const Variant* values = isR ? &rValues : wValues;
    if (values == nullptr || values->IsEmpty()) return Fail(kUnknownOperand);
    std::int64_t index = isR ? itemIndex_ : unitIndex_;
    if (token.size() > 1) {
      const std::string_view digits = std::string_view(token).substr(1);
      std::int32_t n = 0;
      auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
      if (ec != std::errc() || p != digits.data() + digits.size() || n < 0)
        return Fail(kUnknownOperand);
      index = n;
    }
    if (!Element(*values, index, value)) return Fail(kBadIndex);
    return true;
  }
  if (!ParseFormulaLiteral(token, value)) return Fail(kUnknownOperand);
  return true;
}

Tnode* TOperations::Reduce(std::vector<Tnode*>& group) {
  while (group.size() > 1) {
    std::size_t best = group.size();
    for (std::size_t i = 0; i < group.size(); ++i) {
      const Tnode* n = group[i];
      if (n->Kind == kOperator && n->First == nullptr &&
          (best == group.size() || n->Priority > group[best]->Priority))
        best = i;
    }
    if (best == group.size()) {
      Fail(kUnknown);
      return nullptr;
    }
    Tnode* op = group[best];
    const bool hasBefore = best > 0;
    const bool hasAfter = best + 1 < group.size();
    const bool signOp = op->Op == kOpSub || op->Op == kOpAdd;
    if (!hasAfter || (!signOp && !IsUnaryPrefix(op->Op) && !hasBefore)) {
      Fail(OpError(op->Op));
      return nullptr;
    }
    if (IsUnaryPrefix(op->Op) || (signOp && !hasBefore)) {
      op->First = group[best + 1];
      group.erase(group.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    } else {
      op->First = group[best - 1];
      op->Second = group[best + 1];
      group.erase(group.begin() + static_cast<std::ptrdiff_t>(best) + 1);
      group.erase(group.begin() + static_cast<std::ptrdiff_t>(best) - 1);
    }
  }
  if (group.empty()) {
    Fail(kUnknown);
    return nullptr;
  }
  Tnode* n = group.front();
  if (n->Kind == kOpen || n->Kind == kClose) {
    Fail(kBrackets);
    return nullptr;
  }
  if (n->Kind == kOperator && n->First == nullptr) {
    Fail(OpError(n->Op));
    return nullptr;
  }
  return n;
}

bool TOperations::Apply(Tnode& node) {
  if (node.Kind != kOperator) return Fail(kUnknown);
  const Variant* a = node.First ? &node.First->Value : nullptr;
  const Variant* b = node.Second ? &node.Second->Value : nullptr;
  if (IsZeroDivisor(node.Op, b)) return Fail(kDivByZero);
  try {
    if (Compute(node.Op, a, b, node.Value)) return true;
  } catch (const VariantError&) {
  }
  return Fail(OpError(node.Op));
}

bool TOperations::Evaluate(std::string_view formula, const Variant& rValues, Variant& result,
                           std::int32_t unitIndex, std::int32_t itemIndex,
                           const Variant* wValues) {
  ok_ = true;
  errorCode_ = 0;
  unitIndex_ = unitIndex;
  itemIndex_ = itemIndex;
  result = Variant();

  const std::vector<std::string> tokens = Tokenize(formula);
  if (tokens.empty()) return Fail(kNoFormula);
  if (tokens.size() == 1) {
    Variant value;
    if (!Operand(tokens.front(), rValues, wValues, value)) return false;
    result = std::move(value);
    return true;
  }

  // The list owns every node; the tree only points into it, so it is freed as one.
  std::vector<Tnode> nodes(tokens.size());
  std::int64_t depth = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    Tnode& n = nodes[i];
    const std::string& t = tokens[i];
    if (t == "(") {
      n.Kind = kOpen, ++depth;
    } else if (t == ")") {
      n.Kind = kClose, --depth;
    } else if (const OpInfo* op = FindOp(t)) {
      n.Kind = kOperator, n.Op = op->code, n.Priority = op->priority;
    } else {
      n.Kind = kOperand, n.Op = kOperandCode;
      if (!Operand(t, rValues, wValues, n.Value)) return false;
    }
  }
  if (depth != 0) return Fail(kBrackets);

  std::vector<Tnode*> stack;
  std::vector<Tnode*> group;
  stack.reserve(nodes.size());
  for (Tnode& n : nodes) {
    if (n.Kind != kClose) {
      stack.push_back(&n);
      continue;
    }
    group.clear();
    while (!stack.empty() && stack.back()->Kind != kOpen) {
      group.push_back(stack.back());
      stack.pop_back();
    }
    // A ")" before its "(" balances the count but has nothing to close.
    if (stack.empty()) return Fail(kBrackets);
    stack.pop_back();
    std::reverse(group.begin(), group.end());
    Tnode* reduced = Reduce(group);
    if (reduced == nullptr) return false;
    stack.push_back(reduced);
  }
  Tnode* root = nullptr;
  if (stack.size() == 1) {
    root = stack.front();
    if (root->Kind != kOperand && (root->Kind != kOperator || root->First == nullptr))
      return Fail(root->Kind == kOperator ? OpError(root->Op) : kBrackets);
  } else {
    root = Reduce(stack);
    if (root == nullptr) return false;
  }

  // Post-order walk with an explicit stack: a long chain such as 1+1+...+1 is a deep tree.
  std::vector<std::pair<Tnode*, bool>> walk;
  walk.emplace_back(root, false);
  while (!walk.empty()) {
    auto [n, operandsDone] = walk.back();
    walk.pop_back();
    if (n->Kind == kOperand) continue;
    if (operandsDone) {
      if (!Apply(*n)) return false;
      continue;
    }
    walk.emplace_back(n, true);
    if (n->Second) walk.emplace_back(n->Second, false);
    if (n->First) walk.emplace_back(n->First, false);
  }
  result = std::move(root->Value);
  return true;
}

}  // namespace tarvo
