#include "viewer/model/Operations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarvo {
namespace {

using I64 = std::int64_t;

Variant Ui2Array(std::vector<Variant> items) { return Variant(SafeArray::Of(VT_UI2, std::move(items))); }

struct EvalCase {
  const char* name;
  std::string formula;
  Variant r;
  std::optional<Variant> w;  // nullopt: a read-only frame
  std::int32_t unit = 0;
  std::int32_t item = 0;
  std::optional<Variant> expected;  // nullopt: the evaluation fails with code
  std::int32_t code = 0;
};

void PrintTo(const EvalCase& c, std::ostream* os) { *os << c.name << " [" << c.formula << "]"; }

EvalCase Value(const char* name, std::string formula, Variant expected, Variant r = Variant(std::uint16_t{0})) {
  return EvalCase{name, std::move(formula), std::move(r), std::nullopt, 0, 0, std::move(expected), 0};
}

EvalCase Error(const char* name, std::string formula, std::int32_t code, Variant r = Variant(std::uint16_t{0})) {
  return EvalCase{name, std::move(formula), std::move(r), std::nullopt, 0, 0, std::nullopt, code};
}

class EvaluateTest : public ::testing::TestWithParam<EvalCase> {};

TEST_P(EvaluateTest, GivesValueOrCode) {
  const EvalCase& c = GetParam();
  TOperations ops;
  Variant result(std::int32_t{-12345});
  const bool ok = ops.Evaluate(c.formula, c.r, result, c.unit, c.item, c.w ? &*c.w : nullptr);
  EXPECT_EQ(ok, ops.Ok());
  if (c.expected) {
    ASSERT_TRUE(ok) << "code " << ops.ErrorCode() << " " << ops.ErrorText();
    EXPECT_EQ(ops.ErrorCode(), 0);
    EXPECT_EQ(result, *c.expected);
  } else {
    EXPECT_FALSE(ok) << "result " << result;
    EXPECT_EQ(ops.ErrorCode(), c.code) << ops.ErrorText();
    EXPECT_TRUE(result.IsEmpty());
  }
}

const Variant kI8Max(std::numeric_limits<I64>::max());
const Variant kI8Min(std::numeric_limits<I64>::min());

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, EvaluateTest,
    ::testing::Values(
        Value("sub_left_assoc", "8 - 4 - 2", Variant(I64{2})),
        Value("pow_left_assoc", "2 ^ 3 ^ 2", Variant(64.0)),
        Value("mul_before_add", "1 + 2 * 3", Variant(I64{7})),
        Value("mul_before_sub", "10 - 2 * 3", Variant(I64{4})),
        Value("parens_first", "(1 + 2) * 3", Variant(I64{9})),
        Value("nested_parens", "((2 + 3) * (4 - 1)) - 1", Variant(I64{14})),
        Value("two_products", "2 * 3 + 4 * 5", Variant(I64{26})),
        Value("div_float_left_assoc", "12 / 4 / 3", Variant(1.0)),
        Value("pow_before_mul", "2 * 3 ^ 2", Variant(18.0)),
        Value("function_before_pow", "2 ^ abs 3", Variant(8.0)),
        Value("function_before_add", "abs 2 - 5", Variant(I64{-3})),
        Value("function_of_parens", "abs (2 - 5)", Variant(I64{3})),
        Value("div_before_function", "frac 7 div 2", Variant(0.0)),
        Value("mod_before_mul", "7 mod 4 * 2", Variant(I64{6})),
        Value("div_left_assoc", "20 div 3 div 2", Variant(I64{3})),
        Value("bitwise_before_add", "r and 255 + 1", Variant(I64{0x35}), Variant(std::uint16_t{0x1234})),
        Value("shl_before_add", "1 + 2 shl 3", Variant(I64{17})),
        Value("shl_before_mul", "2 * 3 shl 1", Variant(I64{12})),
        Value("not_then_and_left_most", "not 0 and 15", Variant(I64{15})),
        Value("comparison_loosest", "1 + 1 = 2", Variant(I64{1})),
        Value("comparison_after_mul", "2 * 3 > 5", Variant(I64{1})),
        Value("unary_minus_first", "-3 * 2", Variant(I64{-6})),
        Value("unary_minus_in_parens", "2*(-3)", Variant(I64{-6})),
        Value("unary_plus", "+ 5", Variant(I64{5})),
        Value("unary_minus_float", "- 2.5", Variant(-2.5)),
        Value("no_blanks_needed_for_symbols", "r*2+1", Variant(I64{51}), Variant(std::uint16_t{25})),
        Value("integer_mode", "3 * 2", Variant(I64{6})),
        Value("float_mode_literal", "1.5 + 1", Variant(2.5)),
        Value("comma_separator", "1,5 * 2", Variant(3.0)),
        Value("float_exponent_literal", "1e3 + 1", Variant(1001.0)),
        Value("large_integer_is_float", "4294967296", Variant(4294967296.0)),
        Value("divide_gives_float", "r / 10", Variant(2.5), Variant(std::uint16_t{25})),
        Value("divide_exact_still_float", "10 / 5", Variant(2.0)),
        Value("div_integer", "r div 10", Variant(I64{2}), Variant(std::uint16_t{25})),
        Value("div_toward_zero", "(-7) div 2", Variant(I64{-3})),
        Value("mod", "7 mod 3", Variant(I64{1})),
        Value("mod_sign_of_dividend", "(-7) mod 3", Variant(I64{-1})),
        Value("mod_negative_divisor", "7 mod (-3)", Variant(I64{1})),
        Value("sin", "sin 0", Variant(0.0)),
        Value("cos", "cos 0", Variant(1.0)),
        Value("tg", "tg 0", Variant(0.0)),
        Value("exp", "exp 0", Variant(1.0)),
        Value("ln", "ln 1", Variant(0.0)),
        Value("abs_int", "abs (-3)", Variant(I64{3})),
        Value("abs_float", "abs (-2.5)", Variant(2.5)),
        Value("trunc", "trunc 2.7", Variant(I64{2})),
        Value("trunc_negative", "trunc (-2.7)", Variant(I64{-2})),
        Value("trunc_int", "trunc 9", Variant(I64{9})),
        Value("frac", "frac 2.75", Variant(0.75)),
        Value("frac_int", "frac 5", Variant(0.0)),
        Value("power_of_integers_is_float", "2 ^ 10", Variant(1024.0)),
        Value("raw_register_scaled", "r * 0.1 + 2", Variant(12.0), Variant(std::uint16_t{100})),
        Value("r4_becomes_r8", "r + 1", Variant(2.5), Variant(1.5f)),
        Value("mixed_case", "ABS (-3) + R", Variant(I64{4}), Variant(std::uint16_t{1}))),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Bitwise, EvaluateTest,
    ::testing::Values(
        Value("and", "12 and 10", Variant(I64{8})),
        Value("and_symbol", "12&10", Variant(I64{8})),
        Value("or", "12 or 10", Variant(I64{14})),
        Value("or_symbol", "12|10", Variant(I64{14})),
        Value("xor", "12 xor 10", Variant(I64{6})),
        Value("shl", "1 shl 4", Variant(I64{16})),
        Value("shl_symbol", "1 << 4", Variant(I64{16})),
        Value("shr", "256 shr 4", Variant(I64{16})),
        Value("shr_symbol", "256 >> 4", Variant(I64{16})),
        Value("shr_fills_zeros", "r shr 60", Variant(I64{15}), Variant(I64{-1})),
        Value("not_ui2_own_width", "not r", Variant(I64{0xFF00}), Variant(std::uint16_t{0x00FF})),
        Value("not_i2", "not r", Variant(I64{-1}), Variant(std::int16_t{0})),
        Value("not_ui4", "not r", Variant(I64{0xFFFFFFFF}), Variant(std::uint32_t{0})),
        Value("not_i8", "not r", Variant(I64{-6}), Variant(I64{5})),
        Value("not_ui1_literal", "not 0 + 0", Variant(I64{255}))),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Comparisons, EvaluateTest,
    ::testing::Values(
        Value("gt_true", "r > 5", Variant(I64{1}), Variant(std::uint16_t{25})),
        Value("gt_false", "r > 5", Variant(I64{0}), Variant(std::uint16_t{5})),
        Value("lt", "r < 5", Variant(I64{1}), Variant(std::uint16_t{4})),
        Value("eq", "r = 25", Variant(I64{1}), Variant(std::uint16_t{25})),
        Value("ne", "r <> 25", Variant(I64{0}), Variant(std::uint16_t{25})),
        Value("ge", "r >= 25", Variant(I64{1}), Variant(std::uint16_t{25})),
        Value("le", "r <= 24", Variant(I64{0}), Variant(std::uint16_t{25})),
        Value("float_compare", "2.5 > 2", Variant(I64{1})),
        Value("float_equal", "0.5 = 1 / 2", Variant(I64{1}))),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Literals, EvaluateTest,
    ::testing::Values(
        Value("ui1_first", "7", Variant(std::uint8_t{7})),
        Value("parenthesised", "(7)", Variant(std::uint8_t{7})),
        Value("ui2", "300", Variant(std::uint16_t{300})),
        Value("ui4", "70000", Variant(std::uint32_t{70000})),
        Value("float", "0.25", Variant(0.25)),
        Value("hex_dollar_plus_one", "$ff + 1", Variant(I64{256})),
        Value("hex_dollar", "$ff", Variant(std::uint8_t{255})),
        Value("hex_0x", "0x1234", Variant(std::uint16_t{0x1234})),
        Value("hex_h", "ffh", Variant(std::uint8_t{255})),
        Value("hex_ui2_by_digit_count", "$00ff", Variant(std::uint16_t{255})),
        Value("hex_ui4", "$ffffffff", Variant(std::uint32_t{0xFFFFFFFF})),
        Value("hex_sum", "0x10 + 10h", Variant(I64{32})),
        Value("binary", "101b", Variant(std::uint8_t{5})),
        Value("binary_8_digits", "11111111b", Variant(std::uint8_t{255})),
        Value("binary_9_digits", "111111111b", Variant(std::uint16_t{511}))),
    [](const auto& info) { return std::string(info.param.name); });

EvalCase WithValues(const char* name, std::string formula, Variant r, std::optional<Variant> w,
                    std::int32_t unit, std::int32_t item, std::optional<Variant> expected,
                    std::int32_t code = 0) {
  return EvalCase{name, std::move(formula), std::move(r), std::move(w), unit, item,
                  std::move(expected), code};
}

const Variant kR3 = Ui2Array({Variant(std::uint16_t{10}), Variant(std::uint16_t{20}), Variant(std::uint16_t{30})});

INSTANTIATE_TEST_SUITE_P(
    Variables, EvaluateTest,
    ::testing::Values(
        WithValues("r_by_number", "r0 + r2", kR3, std::nullopt, 0, 0, Variant(I64{40})),
        WithValues("lone_r_is_item", "r", kR3, std::nullopt, 0, 1, Variant(std::uint16_t{20})),
        WithValues("lone_r_in_formula", "r * 2", kR3, std::nullopt, 0, 2, Variant(I64{60})),
        WithValues("scalar_r", "r0", Variant(std::int16_t{-4}), std::nullopt, 0, 0, Variant(std::int16_t{-4})),
        WithValues("lone_w_is_unit", "w", Variant(std::uint16_t{0}), kR3, 2, 0, Variant(std::uint16_t{30})),
        WithValues("w_by_number", "w1 - r", Variant(std::uint16_t{5}), kR3, 0, 0, Variant(I64{15})),
        WithValues("scalar_w", "w * 2", Variant(std::uint16_t{0}), Variant(std::int32_t{5}), 0, 0, Variant(I64{10})),
        WithValues("r4_element_becomes_r8", "r1",
                   Variant(SafeArray::Of(VT_R4, {Variant(1.0f), Variant(0.5f)})), std::nullopt, 0, 0, Variant(0.5)),
        WithValues("numeric_string_element", "r + 1", Variant("12"), std::nullopt, 0, 0, Variant(I64{13})),
        WithValues("r_past_end", "r3", kR3, std::nullopt, 0, 0, std::nullopt, TOperations::kBadIndex),
        WithValues("lone_r_past_end", "r + 1", kR3, std::nullopt, 0, 3, std::nullopt, TOperations::kBadIndex),
        WithValues("lone_r_negative_item", "r", kR3, std::nullopt, 0, -1, std::nullopt, TOperations::kBadIndex),
        WithValues("scalar_r1", "r1", Variant(std::uint16_t{1}), std::nullopt, 0, 0, std::nullopt, TOperations::kBadIndex),
        WithValues("scalar_w1", "w1", Variant(std::uint16_t{1}), Variant(std::uint16_t{2}), 0, 0, std::nullopt, TOperations::kBadIndex),
        WithValues("w_without_w_values", "w", Variant(std::uint16_t{1}), std::nullopt, 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("w0_without_w_values", "w0 + 1", Variant(std::uint16_t{1}), std::nullopt, 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("w_empty_is_none", "w0", Variant(std::uint16_t{1}), Variant(), 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("r_not_a_number", "rx", kR3, std::nullopt, 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("r_digits_then_letters", "r1x + 1", kR3, std::nullopt, 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("r_index_too_big", "r99999999999", kR3, std::nullopt, 0, 0, std::nullopt, TOperations::kUnknownOperand),
        WithValues("text_element", "r + 1", Variant("abc"), std::nullopt, 0, 0, std::nullopt, TOperations::kAddSub)),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Errors, EvaluateTest,
    ::testing::Values(
        Error("empty", "", TOperations::kNoFormula),
        Error("blanks_only", "  \t ", TOperations::kNoFormula),
        Error("comparison_without_blanks", "r>5", TOperations::kUnknownOperand),
        Error("function_alone", "sin", TOperations::kUnknownOperand),
        Error("unknown_word", "x + 1", TOperations::kUnknownOperand),
        Error("exponent_sign_breaks", "1e-3", TOperations::kUnknownOperand),
        Error("two_points", "1.5.3", TOperations::kUnknownOperand),
        Error("inf", "inf + 1", TOperations::kUnknownOperand),
        Error("nan", "nan", TOperations::kUnknownOperand),
        Error("hex_nine_digits", "$100000000", TOperations::kUnknownOperand),
        Error("hex_no_digits", "$ + 1", TOperations::kUnknownOperand),
        Error("binary_bad_digit", "2b", TOperations::kUnknownOperand),
        Error("colon", "1 : 2", TOperations::kUnknownOperand),
        Error("open_missing_close", "(r + 1", TOperations::kBrackets),
        Error("close_missing_open", "r + 1)", TOperations::kBrackets),
        Error("close_before_open", ") 1 + 2 (", TOperations::kBrackets),
        Error("no_operator_between", "1 2", TOperations::kUnknown),
        Error("groups_side_by_side", "(1) (2)", TOperations::kUnknown),
        Error("empty_parens", "()", TOperations::kUnknown),
        Error("operator_after_operator", "2*-3", TOperations::kUnknown),
        Error("operator_after_operator_blanks", "2 * - 3", TOperations::kUnknown),
        Error("plus_without_right", "1 +", TOperations::kAddSub),
        Error("unbound_operator_as_argument", "(sin -)", TOperations::kAddSub),
        Error("minus_without_right", "(1 -)", TOperations::kAddSub),
        Error("mul_without_left", "* 2", TOperations::kMul),
        Error("mul_without_right", "2 *", TOperations::kMul),
        Error("divide_without_left", "/ 2", TOperations::kDivide),
        Error("divide_by_zero", "2 / 0", TOperations::kDivByZero),
        Error("divide_float_by_zero", "2.5 / 0", TOperations::kDivByZero),
        Error("divide_by_float_zero", "2 / 0.0", TOperations::kDivByZero),
        Error("power_without_left", "^ 2", TOperations::kPower),
        Error("power_infinite", "0 ^ (-1)", TOperations::kPower),
        Error("power_not_a_number", "(-8) ^ 0.5", TOperations::kPower),
        Error("exp_without_argument", "1 + exp", TOperations::kExp),
        Error("exp_overflow", "exp 1000", TOperations::kExp),
        Error("sin_without_argument", "1 + sin", TOperations::kSin),
        Error("sin_alone_in_parens", "(sin)", TOperations::kSin),
        Error("cos_without_argument", "1 + cos", TOperations::kCos),
        Error("tg_without_argument", "1 + tg", TOperations::kTan),
        Error("ln_without_argument", "1 + ln", TOperations::kLn),
        Error("ln_zero", "ln 0", TOperations::kLn),
        Error("ln_negative", "ln (-1)", TOperations::kLn),
        Error("not_float", "not 1.5", TOperations::kNot),
        Error("not_without_argument", "1 + not", TOperations::kNot),
        Error("and_float", "1.5 and 1", TOperations::kAnd),
        Error("and_without_left", "and 1", TOperations::kAnd),
        Error("or_float", "1 or 1.5", TOperations::kOr),
        Error("or_without_left", "| 1", TOperations::kOr),
        Error("xor_float", "1 xor 0.5", TOperations::kXor),
        Error("xor_without_left", "xor 1", TOperations::kXor),
        Error("shl_float", "1.5 shl 1", TOperations::kShl),
        Error("shl_too_far", "1 shl 64", TOperations::kShl),
        Error("shl_without_left", "<< 1", TOperations::kShl),
        Error("shr_float", "4 shr 0.5", TOperations::kShr),
        Error("shr_negative", "1 shr (-1)", TOperations::kShr),
        Error("shr_without_left", "shr 1", TOperations::kShr),
        Error("div_by_zero", "5 div 0", TOperations::kDivByZero),
        Error("div_float", "5.5 div 2", TOperations::kDiv),
        Error("div_without_left", "div 2", TOperations::kDiv),
        Error("mod_by_zero", "5 mod 0", TOperations::kDivByZero),
        Error("mod_float", "5 mod 2.5", TOperations::kMod),
        Error("mod_without_left", "mod 2", TOperations::kMod),
        Error("abs_without_argument", "1 + abs", TOperations::kAbs),
        Error("trunc_without_argument", "1 + trunc", TOperations::kAbs),
        Error("trunc_too_big", "trunc 1e300", TOperations::kAbs),
        Error("frac_without_argument", "1 + frac", TOperations::kAbs),
        Error("gt_without_left", "> 1", TOperations::kGreater),
        Error("gt_without_right", "1 >", TOperations::kGreater),
        Error("lt_without_left", "< 1", TOperations::kLess),
        Error("eq_without_left", "= 1", TOperations::kEqual),
        Error("ne_without_left", "<> 1", TOperations::kNotEqual),
        Error("ge_without_left", ">= 1", TOperations::kGreaterEqual),
        Error("le_without_left", "<= 1", TOperations::kLessEqual),
        Error("add_overflow", "r + 1", TOperations::kAddSub, kI8Max),
        Error("sub_overflow", "r - 1", TOperations::kAddSub, kI8Min),
        Error("negate_overflow", "- r", TOperations::kAddSub, kI8Min),
        Error("mul_overflow", "r * 2", TOperations::kMul, kI8Max),
        Error("div_overflow", "r div (-1)", TOperations::kDiv, kI8Min),
        Error("abs_overflow", "abs r", TOperations::kAbs, kI8Min),
        Error("float_overflow", "r * r", TOperations::kMul, Variant(1e300))),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EvaluateTest, ModMinusOneOfMostNegativeIsZero) {
  TOperations ops;
  Variant result;
  ASSERT_TRUE(ops.Evaluate("r mod (-1)", kI8Min, result, 0, 0));
  EXPECT_EQ(result, Variant(I64{0}));
}

TEST(ErrorTextTest, EveryCodeHasItsMessage) {
  const char* const texts[] = {
      "#Неизвестная ошибка", "#Нет формулы", "#Недопустимый индекс", "#Неизвестный операнд",
      "#Не хватает скобок", "#Ошибка вычитания/сложения", "#Ошибка произведения",
      "#Ошибка деления", "#Деление на ноль", "#Ошибка степени", "#Ошибка експоненты",
      "#Ошибка синнуса", "#Ошибка косинуса", "#Ошибка тангенса", "#Ошибка логарифма",
      "#Ошибка NOT", "#Ошибка AND", "#Ошибка OR", "#Ошибка XOR", "#Ошибка SHL", "#Ошибка SHR",
      "#Ошибка Div", "#Ошибка MOD", "#Ошибка модуля", "#Ошибка >", "#Ошибка <", "#Ошибка =",
      "#Ошибка <>", "#Ошибка >=", "#Ошибка <="};
  for (std::int32_t code = 0; code < 30; ++code)
    EXPECT_EQ(TOperations::ErrorText(code), texts[code]) << code;
  EXPECT_EQ(TOperations::ErrorText(30), texts[0]);
  EXPECT_EQ(TOperations::ErrorText(-1), texts[0]);
}

TEST(ErrorTextTest, FollowsTheLastEvaluation) {
  TOperations ops;
  Variant result;
  EXPECT_FALSE(ops.Evaluate("5 mod 0", Variant(std::uint16_t{0}), result, 0, 0));
  EXPECT_EQ(ops.ErrorText(), "#Деление на ноль");
  EXPECT_FALSE(ops.Evaluate("(r + 1", Variant(std::uint16_t{0}), result, 0, 0));
  EXPECT_EQ(ops.ErrorText(), "#Не хватает скобок");
  EXPECT_TRUE(ops.Evaluate("1 + 1", Variant(std::uint16_t{0}), result, 0, 0));
  EXPECT_TRUE(ops.Ok());
  EXPECT_EQ(ops.ErrorCode(), 0);
}

TEST(EvaluateStateTest, KeepsTheIndicesOfTheCall) {
  TOperations ops;
  Variant result;
  ops.Evaluate("r", kR3, result, 7, 2);
  EXPECT_EQ(ops.UnitIndex(), 7);
  EXPECT_EQ(ops.ItemIndex(), 2);
  EXPECT_EQ(result, Variant(std::uint16_t{30}));
}

TEST(EvaluateStateTest, OneObjectServesASeriesOfCalls) {
  TOperations ops;
  for (std::uint16_t raw = 0; raw < 50; ++raw) {
    Variant result;
    ASSERT_TRUE(ops.Evaluate("r * 0.5 + 1", Variant(raw), result, 0, 0));
    EXPECT_EQ(result, Variant(raw * 0.5 + 1));
  }
}

// A formula is text typed by a user: nothing in it may crash the evaluator or read past it.
TEST(MalformedInputTest, RandomTokenSoupNeverCrashes) {
  const char* const pieces[] = {"(", ")", "-", "+", "*", "/", "^", "sin", "not", "and", "|",
                                "shl", ">>", "div", "mod", "abs", "<>", "trunc", "frac", "r",
                                "w", "r1", "w9", "0", "1", "2.5", "$ff", "101b", "x", ":", "?",
                                " ", "&", "ln", "exp", "1e", "0x", "h", "b", "<=", "="};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(1, 12);
  TOperations ops;
  const Variant w = kR3;
  for (int i = 0; i < 20000; ++i) {
    std::string formula;
    for (int n = length(rng); n > 0; --n) {
      formula += pieces[pick(rng)];
      if (rng() % 2) formula += ' ';
    }
    Variant result;
    const bool ok = ops.Evaluate(formula, kR3, result, 1, 1, (i % 2) ? &w : nullptr);
    ASSERT_EQ(ok, ops.Ok()) << formula;
    if (!ok) {
      ASSERT_GE(ops.ErrorCode(), 0) << formula;
      ASSERT_LE(ops.ErrorCode(), 29) << formula;
    }
  }
}

TEST(MalformedInputTest, ArbitraryBytesNeverCrash) {
  std::mt19937 rng(777);
  TOperations ops;
  for (int i = 0; i < 5000; ++i) {
    std::string formula(rng() % 24, '\0');
    for (char& c : formula) c = static_cast<char>(rng() & 0xFF);
    Variant result;
    ops.Evaluate(formula, kR3, result, 0, 0);
  }
  SUCCEED();
}

TEST(MalformedInputTest, ViewIntoALargerBufferStopsAtItsEnd) {
  const std::string buffer = "1 + 2 * 3";
  TOperations ops;
  Variant result;
  ASSERT_TRUE(ops.Evaluate(std::string_view(buffer).substr(0, 5), kR3, result, 0, 0));
  EXPECT_EQ(result, Variant(I64{3}));
}

TEST(MalformedInputTest, DeepParenthesesAndLongChains) {
  TOperations ops;
  Variant result;
  const std::string deep = std::string(5000, '(') + "1" + std::string(5000, ')');
  ASSERT_TRUE(ops.Evaluate(deep, kR3, result, 0, 0));
  EXPECT_EQ(result, Variant(std::uint8_t{1}));

  std::string chain = "1";
  for (int i = 0; i < 2000; ++i) chain += "+1";
  ASSERT_TRUE(ops.Evaluate(chain, kR3, result, 0, 0));
  EXPECT_EQ(result, Variant(I64{2001}));

  std::string unary(3000, '-');
  EXPECT_FALSE(ops.Evaluate(unary + "1", kR3, result, 0, 0));
}

}  // namespace
}  // namespace tarvo
