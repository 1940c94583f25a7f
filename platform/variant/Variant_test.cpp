#include "platform/variant/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/variant/OleToVar.h"

namespace tarvo {
namespace {

struct ConvCase {
  const char* name;
  Variant from;
  VarType to;
  Variant expected;  // Empty with fails set means "raises"
  bool fails = false;
  VariantErrorKind kind = VariantErrorKind::TypeMismatch;
};

void PrintTo(const ConvCase& c, std::ostream* os) { *os << c.name; }

class ChangeTypeTest : public ::testing::TestWithParam<ConvCase> {};

TEST_P(ChangeTypeTest, Converts) {
  const ConvCase& c = GetParam();
  if (c.fails) {
    try {
      Variant v = c.from.ChangeType(c.to);
      FAIL() << "converted to " << v;
    } catch (const VariantError& e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
    }
  } else {
    EXPECT_EQ(c.from.ChangeType(c.to), c.expected);
  }
}

const VariantErrorKind kOverflow = VariantErrorKind::Overflow;
const VariantErrorKind kMismatch = VariantErrorKind::TypeMismatch;

INSTANTIATE_TEST_SUITE_P(
    Table, ChangeTypeTest,
    ::testing::Values(
        ConvCase{"StringToInt", Variant("42"), VT_I4, Variant(std::int32_t{42})},
        ConvCase{"StringWithSpaces", Variant("  -7 "), VT_I4, Variant(std::int32_t{-7})},
        ConvCase{"StringFractionRoundsHalfEven", Variant("2.5"), VT_I4, Variant(std::int32_t{2})},
        ConvCase{"StringFractionRoundsUp", Variant("3.5"), VT_I2, Variant(std::int16_t{4})},
        ConvCase{"StringHex", Variant("&H1F"), VT_UI1, Variant(std::uint8_t{31})},
        ConvCase{"StringBig64", Variant("9223372036854775807"), VT_I8,
                 Variant(std::int64_t{INT64_MAX})},
        ConvCase{"StringUI8Max", Variant("18446744073709551615"), VT_UI8,
                 Variant(std::uint64_t{UINT64_MAX})},
        ConvCase{"StringNotNumber", Variant("12a"), VT_I4, {}, true, kMismatch},
        ConvCase{"EmptyStringNotNumber", Variant(""), VT_I4, {}, true, kMismatch},
        ConvCase{"StringInfNotNumber", Variant("inf"), VT_R8, {}, true, kMismatch},
        ConvCase{"BoolTrueIsMinusOne", Variant(true), VT_I4, Variant(std::int32_t{-1})},
        ConvCase{"BoolFalseIsZero", Variant(false), VT_I2, Variant(std::int16_t{0})},
        ConvCase{"BoolTrueToUI1Overflows", Variant(true), VT_UI1, {}, true, kOverflow},
        ConvCase{"IntToBool", Variant(std::int32_t{5}), VT_BOOL, Variant(true)},
        ConvCase{"ZeroToBool", Variant(0.0), VT_BOOL, Variant(false)},
        ConvCase{"WordTrueToBool", Variant(" TRUE "), VT_BOOL, Variant(true)},
        ConvCase{"StringNumberToBool", Variant("0"), VT_BOOL, Variant(false)},
        ConvCase{"RealRoundsHalfEven", Variant(-2.5), VT_I4, Variant(std::int32_t{-2})},
        ConvCase{"RealToUI2Overflows", Variant(65535.6), VT_UI2, {}, true, kOverflow},
        ConvCase{"NegativeToUnsignedOverflows", Variant(std::int32_t{-1}), VT_UI4, {}, true,
                 kOverflow},
        ConvCase{"UI8ToI8Overflows", Variant(std::uint64_t{UINT64_MAX}), VT_I8, {}, true,
                 kOverflow},
        ConvCase{"I4ToI1Overflows", Variant(std::int32_t{128}), VT_I1, {}, true, kOverflow},
        ConvCase{"NanToIntOverflows", Variant(std::nan("")), VT_I4, {}, true, kOverflow},
        ConvCase{"HugeToR4Overflows", Variant(1e39), VT_R4, {}, true, kOverflow},
        ConvCase{"EmptyIsZero", Variant(), VT_I4, Variant(std::int32_t{0})},
        ConvCase{"EmptyIsEmptyString", Variant(), VT_BSTR, Variant("")},
        ConvCase{"NullDoesNotConvert", Variant::Null(), VT_I4, {}, true, kMismatch},
        ConvCase{"ErrorDoesNotConvert", Variant::Error(5), VT_I4, {}, true, kMismatch},
        ConvCase{"ArrayDoesNotConvert",
                 Variant(SafeArray::Of(VT_UI1, {Variant(std::uint8_t{1})})), VT_I4, {}, true,
                 kMismatch},
        ConvCase{"CurrencyToInt", Variant::Currency(15000), VT_I4, Variant(std::int32_t{2})},
        ConvCase{"IntToCurrency", Variant(std::int32_t{3}), VT_CY, Variant::Currency(30000)},
        ConvCase{"DateToReal", Variant::Date(45000.5), VT_R8, Variant(45000.5)},
        ConvCase{"RealToDate", Variant(45000.25), VT_DATE, Variant::Date(45000.25)},
        ConvCase{"DateOutOfRange", Variant(1e9), VT_DATE, {}, true, kOverflow},
        ConvCase{"IntToString", Variant(std::int16_t{-300}), VT_BSTR, Variant("-300")},
        ConvCase{"BoolToString", Variant(true), VT_BSTR, Variant("True")},
        ConvCase{"RealToString", Variant(0.1), VT_BSTR, Variant("0.1")},
        ConvCase{"SameTypeIsCopy", Variant("abc"), VT_BSTR, Variant("abc")}),
    [](const ::testing::TestParamInfo<ConvCase>& info) { return info.param.name; });

TEST(Variant, TypesAndHelpers) {
  EXPECT_EQ(Variant().vt(), VT_EMPTY);
  EXPECT_EQ(Variant::Null().vt(), VT_NULL);
  EXPECT_EQ(Variant(std::uint8_t{1}).vt(), VT_UI1);
  EXPECT_EQ(Variant(std::int8_t{1}).vt(), VT_I1);
  EXPECT_EQ(Variant(1.0f).vt(), VT_R4);
  EXPECT_EQ(Variant(SafeArray(VT_UI2, 0, 3)).vt(), VT_ARRAY | VT_UI2);
  EXPECT_EQ(Variant::FromInt(VT_UI2, 65535), Variant(std::uint16_t{65535}));
  EXPECT_THROW(Variant::FromInt(VT_UI2, 65536), VariantError);
  EXPECT_EQ(Variant("7").ToInt64(), 7);
  EXPECT_EQ(Variant(std::uint16_t{7}).ToInt32(), 7);
  EXPECT_TRUE(Variant(std::int32_t{-3}).ToBool());
  EXPECT_EQ(VarTypeSize(VT_UI1), 1);
  EXPECT_EQ(VarTypeSize(VT_BOOL), 2);
  EXPECT_EQ(VarTypeSize(VT_R4), 4);
  EXPECT_EQ(VarTypeSize(VT_DATE), 8);
  EXPECT_EQ(VarTypeSize(VT_EMPTY), 0);
  // Exact equality keeps the type: UI1 1 is not I4 1.
  EXPECT_NE(Variant(std::uint8_t{1}), Variant(std::int32_t{1}));
}

TEST(SafeArray, BoundsIndicesAndTypedElements) {
  SafeArray a(VT_UI2, 1, 3);
  EXPECT_EQ(a.Lower(), 1);
  EXPECT_EQ(a.Upper(), 3);
  EXPECT_EQ(a.At(1), Variant(std::uint16_t{0}));  // new typed elements are zero of their type
  a.Set(2, Variant("513"));  // a typed array converts what it is given
  EXPECT_EQ(a.At(2), Variant(std::uint16_t{513}));
  EXPECT_THROW(a.At(0), VariantError);
  EXPECT_THROW(a.At(4), VariantError);
  EXPECT_THROW(a.Set(1, Variant(std::int32_t{-1})), VariantError);
  EXPECT_THROW(a.At(1, 1), VariantError);

  SafeArray m(VT_VARIANT, {{0, 2}, {0, 3}});
  m.Set(1, 2, Variant("x"));
  EXPECT_EQ(m.Flat(5), Variant("x"));  // row-major
  EXPECT_EQ(m.At(0, 0), Variant());
  EXPECT_THROW(m.At(2, 0), VariantError);

  SafeArray s(VT_BSTR, 0, 1);
  EXPECT_EQ(s.At(0), Variant(""));
  EXPECT_EQ(SafeArray(VT_UI1, 0, 0).Upper(), -1);
  EXPECT_THROW(SafeArray(VT_EMPTY, 0, 1), VariantError);
  EXPECT_THROW(SafeArray(VT_UI1, 0, 0x7FFFFFFF), VariantError);  // refused, not allocated
}

TEST(Variant, CopiesAreDeep) {
  Variant a(SafeArray::Of(VT_VARIANT, {Variant(SafeArray::Of(VT_UI1, {Variant(std::uint8_t{1})}))}));
  Variant b = a;
  b.Array().Set(0, Variant("changed"));
  EXPECT_EQ(a.Array().At(0).vt(), VT_ARRAY | VT_UI1);
  EXPECT_NE(a, b);
}

TEST(OleToVar, ScalarsArraysAndTwoDimensions) {
  Variant dest;
  ASSERT_TRUE(OleToVar(Variant(std::uint16_t{9}), dest));
  EXPECT_EQ(dest, Variant(std::uint16_t{9}));

  ASSERT_TRUE(OleToVar(Variant("12"), VT_I4, dest));
  EXPECT_EQ(dest, Variant(std::int32_t{12}));

  // A byte array becomes an array of Variants holding UI1 values, bounds kept.
  SafeArray bytes(VT_UI1, 1, 2);
  bytes.Set(1, Variant(std::uint8_t{0xAB}));
  bytes.Set(2, Variant(std::uint8_t{0xCD}));
  ASSERT_TRUE(OleToVar(Variant(bytes), dest));
  ASSERT_TRUE(dest.IsArray());
  EXPECT_EQ(dest.Array().ElemVt(), VT_VARIANT);
  EXPECT_EQ(dest.Array().Lower(), 1);
  EXPECT_EQ(dest.Array().At(2), Variant(std::uint8_t{0xCD}));

  // Nested one-dimensional arrays are converted too; a nested 2-D one becomes Unassigned.
  SafeArray inner2d(VT_I4, {{0, 2}, {0, 2}});
  Variant nested(SafeArray::Of(
      VT_VARIANT, {Variant(SafeArray::Of(VT_I2, {Variant(std::int16_t{5})})), Variant(inner2d)}));
  ASSERT_TRUE(OleToVar(nested, dest));
  EXPECT_EQ(dest.Array().At(0).Array().ElemVt(), VT_VARIANT);
  EXPECT_EQ(dest.Array().At(0).Array().At(0), Variant(std::int16_t{5}));
  EXPECT_TRUE(dest.Array().At(1).IsEmpty());

  // A two-dimensional source leaves the destination as it was.
  Variant kept("previous");
  EXPECT_FALSE(OleToVar(Variant(inner2d), kept));
  EXPECT_EQ(kept, Variant("previous"));
  Variant fresh;
  EXPECT_FALSE(OleToVar(Variant(inner2d), fresh));
  EXPECT_TRUE(fresh.IsEmpty());
}

}  // namespace
}  // namespace tarvo
