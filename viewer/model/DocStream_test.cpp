#include "viewer/model/DocStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/storage/Storage.h"
#include "platform/storage/StorageError.h"
#include "viewer/model/testing/HexBytes.h"

namespace tarvo {
namespace {

using testing::Hex;

std::string Written(const std::function<void(TDocStream&)>& write) {
  TDocStream s;
  write(s);
  return s.Bytes();
}

struct ScalarCase {
  const char* name;
  Variant value;
  std::string hex;  // after the dimension count 0
};

void PrintTo(const ScalarCase& c, std::ostream* os) { *os << c.name; }

class VariantScalarTest : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(VariantScalarTest, WritesLayoutAndReadsItBack) {
  const ScalarCase& c = GetParam();
  const std::string bytes = Written([&](TDocStream& s) { s.WriteVariant(c.value); });
  EXPECT_EQ(bytes, Hex("00000000" + c.hex));
  TDocStream in(bytes);
  EXPECT_EQ(in.ReadVariant(), c.value);
  EXPECT_EQ(in.Remaining(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, VariantScalarTest,
    ::testing::Values(
        ScalarCase{"Empty", Variant(), "00000000"},
        ScalarCase{"I2", Variant(std::int16_t{-2}), "02000000 feff"},
        ScalarCase{"I4", Variant(std::int32_t{0x12345678}), "03000000 78563412"},
        ScalarCase{"R4", Variant(1.5f), "04000000 0000c03f"},
        ScalarCase{"R8", Variant(-2.0), "05000000 00000000000000c0"},
        ScalarCase{"BoolTrue", Variant(true), "0b000000 01"},
        ScalarCase{"BoolFalse", Variant(false), "0b000000 00"},
        ScalarCase{"I1", Variant(std::int8_t{-1}), "10000000 ff"},
        ScalarCase{"UI1", Variant(std::uint8_t{200}), "11000000 c8"},
        ScalarCase{"UI2", Variant(std::uint16_t{0xBEEF}), "12000000 efbe"},
        ScalarCase{"UI4", Variant(std::uint32_t{0xFFFFFFFE}), "13000000 feffffff"},
        ScalarCase{"I8", Variant(std::int64_t{-3}), "14000000 fdffffffffffffff"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DocStreamTest, PrimitivesAreLittleEndianAnd1251) {
  struct Case {
    const char* name;
    std::function<void(TDocStream&)> write;
    std::string hex;
  };
  const std::vector<Case> cases = {
      {"Byte", [](TDocStream& s) { s.WriteByte(0xAB); }, "ab"},
      {"Boolean", [](TDocStream& s) { s.WriteBoolean(true); s.WriteBoolean(false); }, "01 00"},
      {"Integer", [](TDocStream& s) { s.WriteInteger(-2); }, "feffffff"},
      {"Single", [](TDocStream& s) { s.WriteSingle(-1.0f); }, "000080bf"},
      {"Double", [](TDocStream& s) { s.WriteDouble(25569.5); }, "00000000 60f8d840"},
      {"Int64", [](TDocStream& s) { s.Write64(0x0102030405060708); }, "0807060504030201"},
      {"EmptyString", [](TDocStream& s) { s.WriteString(""); }, "00000000"},
      {"CyrillicString", [](TDocStream& s) { s.WriteString("Да!"); }, "03000000 c4e021"},
      {"Font",
       [](TDocStream& s) { s.WriteFont({"Arial", 0x00FF0000, 10, 0b0101}); },
       "05000000 417269616c 0000ff00 0a000000 05"},
  };
  for (const Case& c : cases) EXPECT_EQ(Written(c.write), Hex(c.hex)) << c.name;
}

TEST(DocStreamTest, PrimitivesReadBack) {
  TDocStream s(Hex("ab feffffff 000080bf 00000000 60f8d840 0807060504030201 03000000 c4e021 "
                   "05000000 417269616c 0000ff00 0a000000 05 02"));
  EXPECT_EQ(s.ReadByte(), 0xAB);
  EXPECT_EQ(s.ReadInteger(), -2);
  EXPECT_EQ(s.ReadSingle(), -1.0f);
  EXPECT_EQ(s.ReadDouble(), 25569.5);
  EXPECT_EQ(s.Read64(), 0x0102030405060708);
  EXPECT_EQ(s.ReadString(), "Да!");
  EXPECT_EQ(s.ReadFont(), (TDocFont{"Arial", 0x00FF0000, 10, 0b0101}));
  EXPECT_TRUE(s.ReadBoolean());  // plain Boolean fields take any non-zero byte as true
  EXPECT_EQ(s.Remaining(), 0u);
}

TEST(DocStreamTest, OneDimensionalArrayLayout) {
  SafeArray a(VT_I2, 0, 3);
  for (int i = 0; i < 3; ++i) a.Set(i, Variant(static_cast<std::int16_t>(i + 1)));
  const std::string bytes = Written([&](TDocStream& s) { s.WriteVariant(Variant(a)); });
  EXPECT_EQ(bytes, Hex("01000000 02000000"
                       "00000000 02000000 0100"
                       "00000000 02000000 0200"
                       "00000000 02000000 0300"));
  TDocStream in(bytes);
  const Variant back = in.ReadVariant();
  ASSERT_TRUE(back.IsArray());
  EXPECT_EQ(back.vt(), VT_ARRAY | VT_VARIANT);  // read back as an array of variants
  EXPECT_EQ(back.Array().Lower(), 0);
  ASSERT_EQ(back.Array().Count(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(back.Array().At(i), Variant(static_cast<std::int16_t>(i + 1)));
}

TEST(DocStreamTest, TwoDimensionalArrayGoesRowByRow) {
  SafeArray a(VT_VARIANT, {{0, 3}, {0, 5}});
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 5; ++j) a.Set(i, j, Variant(static_cast<std::int32_t>(i * 10 + j)));
  const std::string bytes = Written([&](TDocStream& s) { s.WriteVariant(Variant(a)); });
  // Head, then [0,0] and [0,1]: the second index runs fastest.
  EXPECT_EQ(bytes.substr(0, 12 + 24), Hex("02000000 02000000 04000000"
                                           "00000000 03000000 00000000"
                                           "00000000 03000000 01000000"));
  TDocStream in(bytes);
  const Variant back = in.ReadVariant();
  ASSERT_TRUE(back.IsArray());
  ASSERT_EQ(back.Array().Dims(), 2);
  EXPECT_EQ(back.Array().Count(0), 3u);
  EXPECT_EQ(back.Array().Count(1), 5u);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 5; ++j)
      EXPECT_EQ(back.Array().At(i, j), Variant(static_cast<std::int32_t>(i * 10 + j))) << i << "," << j;
}

TEST(DocStreamTest, ArraysWithOtherLowerBoundsOrNestingKeepEveryElement) {
  // An array from 1 (as the automation platform hands out) loses no element: it is written from
  // its first element and reads back from 0.
  SafeArray from1(VT_UI2, 1, 2);
  from1.Set(1, Variant(std::uint16_t{7}));
  from1.Set(2, Variant(std::uint16_t{8}));
  SafeArray outer(VT_VARIANT, 0, 2);
  outer.Set(0, Variant(from1));
  outer.Set(1, Variant(SafeArray(VT_I4, 0, 0)));  // empty: high bound -1
  const std::string bytes = Written([&](TDocStream& s) { s.WriteVariant(Variant(outer)); });
  TDocStream in(bytes);
  const Variant back = in.ReadVariant();
  const SafeArray& first = back.Array().At(0).Array();
  EXPECT_EQ(first.Lower(), 0);
  EXPECT_EQ(first.Items(), (std::vector<Variant>{Variant(std::uint16_t{7}), Variant(std::uint16_t{8})}));
  EXPECT_EQ(back.Array().At(1).Array().Count(), 0u);
  EXPECT_NE(bytes.find(Hex("01000000 ffffffff")), std::string::npos);
}

TEST(DocStreamTest, BooleanVariantIsTrueOnlyForOne) {
  for (const auto& [hex, expected] : std::vector<std::pair<std::string, bool>>{
           {"01", true}, {"00", false}, {"02", false}, {"ff", false}}) {
    TDocStream in(Hex("00000000 0b000000" + hex));
    EXPECT_EQ(in.ReadVariant(), Variant(expected)) << hex;
  }
}

TEST(DocStreamTest, UnknownTypesRaiseTheirTexts) {
  for (const auto& [value, text] : std::vector<std::pair<Variant, std::string>>{
           {Variant("x"), "Unknown VarType8in TDocStream.WriteVariant"},
           {Variant::Null(), "Unknown VarType1in TDocStream.WriteVariant"},
           {Variant::Date(1.0), "Unknown VarType7in TDocStream.WriteVariant"},
           {Variant(std::uint64_t{1}), "Unknown VarType21in TDocStream.WriteVariant"},
           {Variant::Currency(1), "Unknown VarType6in TDocStream.WriteVariant"}}) {
    TDocStream s;
    try {
      s.WriteVariant(value);
      ADD_FAILURE() << "no error for " << value;
    } catch (const EDocStreamUnknownVarType& e) {
      EXPECT_EQ(std::string(e.what()), text);
    }
  }
  // An array element of an unknown type fails the same way.
  TDocStream s;
  EXPECT_THROW(s.WriteVariant(Variant(SafeArray::Of(VT_BSTR, {Variant("a")}))), EDocStreamUnknownVarType);

  for (const char* code : {"01000000", "07000000", "08000000", "15000000", "ffffffff"}) {
    TDocStream in(Hex(std::string("00000000") + code + "0000000000000000"));
    try {
      in.ReadVariant();
      ADD_FAILURE() << "no error for code " << code;
    } catch (const EDocStreamUnknownVarType& e) {
      EXPECT_STREQ(e.what(), "Unknown VarType in TDocStream.ReadVariant");
    }
  }
}

// Every proper prefix of a good encoding is a stream that ends early.
TEST(DocStreamTest, TruncatedInputFailsCleanly) {
  SafeArray grid(VT_VARIANT, {{0, 2}, {0, 2}});
  grid.Set(1, 1, Variant(2.5));
  const std::vector<std::pair<const char*, std::function<void(TDocStream&)>>> readers = {
      {"Integer", [](TDocStream& s) { s.ReadInteger(); }},
      {"Double", [](TDocStream& s) { s.ReadDouble(); }},
      {"String", [](TDocStream& s) { s.ReadString(); }},
      {"Font", [](TDocStream& s) { s.ReadFont(); }},
      {"Variant", [](TDocStream& s) { s.ReadVariant(); }},
  };
  const std::vector<std::string> goods = {
      Written([](TDocStream& s) { s.WriteInteger(5); }),
      Written([](TDocStream& s) { s.WriteDouble(5); }),
      Written([](TDocStream& s) { s.WriteString("abc"); }),
      Written([](TDocStream& s) { s.WriteFont({"Arial", 1, 2, 3}); }),
      Written([&](TDocStream& s) { s.WriteVariant(Variant(grid)); }),
  };
  for (std::size_t r = 0; r < readers.size(); ++r) {
    for (std::size_t n = 0; n < goods[r].size(); ++n) {
      TDocStream in(goods[r].substr(0, n));
      EXPECT_THROW(readers[r].second(in), EDocStreamError) << readers[r].first << " cut at " << n;
    }
    TDocStream whole(goods[r]);
    EXPECT_NO_THROW(readers[r].second(whole)) << readers[r].first;
  }
}

TEST(DocStreamTest, HostileLengthsAreRefusedBeforeAllocation) {
  const std::vector<std::pair<const char*, std::string>> variants = {
      {"HugeArray", "01000000 feffff7f" "00000000 00000000"},
      {"ArrayLongerThanInput", "01000000 03000000" "00000000 00000000"},
      {"NegativeHighBound", "01000000 feffffff"},
      {"Huge2D", "02000000 ffff0000 ffff0000 00000000 00000000"},
      {"ThreeDimensions", "03000000 00000000 00000000 00000000"},
      {"NegativeDimensions", "ffffffff 00000000"},
  };
  for (const auto& [name, hex] : variants) {
    TDocStream in(Hex(hex));
    EXPECT_THROW(in.ReadVariant(), EDocStreamError) << name;
  }
  for (const char* len : {"ffffff7f", "ffffffff", "00000080", "05000000"}) {
    TDocStream in(Hex(std::string(len) + "41424344"));
    EXPECT_THROW(in.ReadString(), EDocStreamError) << len;
  }
  // Arrays nested without end would exhaust the stack.
  std::string deep;
  for (int i = 0; i < 10000; ++i) deep += Hex("01000000 00000000");
  deep += Hex("00000000 00000000");
  TDocStream in(deep);
  EXPECT_THROW(in.ReadVariant(), EDocStreamError);
}

TEST(DocStreamTest, WritesAtThePositionAndSeeksInside) {
  TDocStream s;
  s.WriteInteger(1);
  s.WriteInteger(2);
  s.Seek(0);
  s.WriteByte(9);
  EXPECT_EQ(s.Bytes(), Hex("09000000 02000000"));
  EXPECT_THROW(s.Seek(9), EDocStreamError);
}

TEST(DocStreamTest, SitsOnAStorageStream) {
  Storage root;
  TDocStream out(std::string(), &root);
  out.WriteString("Пелагон");
  ASSERT_NE(out.CreateSubStorage("W0"), nullptr);
  out.SaveTo(root, "Data");
  EXPECT_TRUE(root.HasStorage("W0"));

  TDocStream in = TDocStream::OpenStream(root, "Data");
  EXPECT_EQ(in.ReadString(), "Пелагон");
  EXPECT_EQ(in.OpenSubStorage("W0"), &root.OpenStorage("W0"));
  EXPECT_THROW(in.OpenSubStorage("W1"), StorageError);

  TDocStream alone;
  EXPECT_EQ(alone.CreateSubStorage("W0"), nullptr);
  EXPECT_EQ(alone.OpenSubStorage("W0"), nullptr);
}

}  // namespace
}  // namespace tarvo
