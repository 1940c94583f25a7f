#include "viewer/model/ItemTypes.h"

#include <gtest/gtest.h>

#include "viewer/model/MBAddress.h"

namespace tarvo {
namespace {

Variant Map(std::vector<Variant> codes) { return Variant(SafeArray::Of(VT_I4, std::move(codes))); }

TEST(ItemTypesTest, RegisterAndByteSizesOfEveryCode) {
  struct Case { VarType vt; int regs, bytes; };
  const Case cases[] = {{VT_I2, 1, 2}, {VT_I4, 2, 4}, {VT_R4, 2, 4}, {VT_I1, 1, 1}, {VT_UI1, 1, 1},
                        {VT_UI2, 1, 2}, {VT_UI4, 2, 4}, {VT_R8, 0, 0}, {VT_BOOL, 0, 0}, {VT_I8, 0, 0},
                        {VT_BSTR, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(TypeRegisterCount(c.vt), c.regs) << c.vt;
    EXPECT_EQ(TypeByteSize(c.vt), c.bytes) << c.vt;
  }
}

TEST(ItemTypesTest, OffsetPastItemAndStartOfItem) {
  const Variant map = Map({Variant(18), Variant(3), Variant(16)});
  const std::int64_t past[] = {101, 103, 104};
  const std::int64_t start[] = {100, 101, 103};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(ItemRegisterOffset(map, 100, k), past[k]) << k;
    EXPECT_EQ(ItemStartOffset(map, 100, k), start[k]) << k;
  }
  // Past the last item both stop at the end of the run instead of reading beyond the map.
  EXPECT_EQ(ItemRegisterOffset(map, 100, 7), 104);
  EXPECT_EQ(ItemStartOffset(map, 100, 3), 104);
  EXPECT_EQ(ItemStartOffset(map, 100, -1), 100);
  EXPECT_EQ(ItemRegisterCount(map), 4);
  EXPECT_EQ(ValueByteSize(map), 2 + 4 + 1);
  // Addresses near the top of the 32-bit range do not wrap.
  EXPECT_EQ(ItemRegisterOffset(map, 0xFFFFFFFFLL, 2), 0xFFFFFFFFLL + 4);
}

TEST(ItemTypesTest, SingleCodeAndEmptyMaps) {
  EXPECT_EQ(ItemTypeCount(Variant(4)), 1);
  EXPECT_EQ(ItemTypeAt(Variant(4), 0), VT_R4);
  EXPECT_EQ(ItemRegisterOffset(Variant(4), 10, 0), 12);
  EXPECT_EQ(ItemStartOffset(Variant(4), 10, 0), 10);
  EXPECT_EQ(ValueByteSize(Variant(4)), 4);
  EXPECT_EQ(ItemTypeCount(Variant()), 0);
  EXPECT_EQ(ValueByteSize(Variant()), 0);
  EXPECT_EQ(ItemRegisterOffset(Variant(), 10, 0), 10);
  // A map of unknown codes counts nothing; an index outside the array has no type.
  EXPECT_EQ(ValueByteSize(Map({Variant(5), Variant(8), Variant(11)})), 0);
  EXPECT_EQ(ItemTypeAt(Map({Variant(2)}), 1), VT_EMPTY);
}

TEST(ItemTypesTest, ConvertsAnswersToTheMapTypes) {
  const Variant map = Map({Variant(2), Variant(17)});
  Variant single(std::int32_t{70000});
  ConvertToItemTypes(single, Variant(18));
  EXPECT_EQ(single, Variant(std::uint16_t{4464}));

  Variant row(SafeArray::Of(VT_VARIANT, {Variant(std::int32_t{-1}), Variant(std::int32_t{300})}));
  ConvertToItemTypes(row, map);
  EXPECT_EQ(row, Variant(SafeArray::Of(VT_VARIANT, {Variant(std::int16_t{-1}), Variant(std::uint8_t{44})})));

  // Archive answers: record i, field j takes the type of map element j.
  SafeArray table(VT_VARIANT, {{0, 2}, {0, 2}});
  table.Set(0, 0, Variant(std::int32_t{1}));
  table.Set(0, 1, Variant(std::int32_t{2}));
  table.Set(1, 0, Variant(std::int32_t{3}));
  table.Set(1, 1, Variant(std::int32_t{260}));
  Variant archive(std::move(table));
  ConvertToItemTypes(archive, map);
  EXPECT_EQ(archive.Array().At(1, 0), Variant(std::int16_t{3}));
  EXPECT_EQ(archive.Array().At(1, 1), Variant(std::uint8_t{4}));
  EXPECT_EQ(archive.Array().At(0, 1), Variant(std::uint8_t{2}));

  // Elements the map has no type for stay as they came; a typed array keeps its bounds.
  Variant longer(SafeArray(VT_I4, 5, 3));
  ConvertToItemTypes(longer, map);
  EXPECT_EQ(longer.Array().Lower(), 5);
  EXPECT_EQ(longer.Array().Flat(2), Variant(std::int32_t{0}));
  EXPECT_EQ(longer.Array().Flat(1), Variant(std::uint8_t{0}));
}

TEST(MBAddressTest, TextIsUpperHexWithFourDigitsAtLeast) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {0, "0000"}, {255, "00FF"}, {0xABCD, "ABCD"}, {0x12345, "12345"}, {0xFFFFFFFF, "FFFFFFFF"}};
  for (const auto& [address, text] : cases) EXPECT_EQ(TMBAddress{address}.Text(), text);
}

}  // namespace
}  // namespace tarvo
