#include "viewer/model/ItemTypes.h"

#include "viewer/model/ValueConv.h"

namespace tarvo {

int TypeRegisterCount(VarType vt) {
  switch (vt) {
    case VT_I2: case VT_I1: case VT_UI1: case VT_UI2: return 1;
    case VT_I4: case VT_R4: case VT_UI4: return 2;
    default: return 0;
  }
}

int TypeByteSize(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_UI4: return 4;
    default: return 0;
  }
}

std::int64_t ItemTypeCount(const Variant& itemTypes) {
  if (itemTypes.IsArray()) return static_cast<std::int64_t>(itemTypes.Array().Size());
  return itemTypes.IsEmpty() ? 0 : 1;
}

namespace {

VarType CodeOf(const Variant& v) {
  if (v.IsArray()) return VT_EMPTY;
  try {
    const std::int64_t code = v.ToInt64();
    return code >= 0 && code <= 0xFFFF ? static_cast<VarType>(code) : VT_EMPTY;
  } catch (const VariantError&) {
    return VT_EMPTY;
  }
}

// Sum of f(type) over items 0 ... end-1 of the map (end clamped to the item count).
template <typename F>
std::int64_t SumOver(const Variant& itemTypes, std::int64_t end, F f) {
  if (end <= 0) return 0;
  if (!itemTypes.IsArray()) return itemTypes.IsEmpty() ? 0 : f(CodeOf(itemTypes));
  const auto& items = itemTypes.Array().Items();
  std::int64_t sum = 0;
  const std::size_t n = end < static_cast<std::int64_t>(items.size()) ? static_cast<std::size_t>(end) : items.size();
  for (std::size_t i = 0; i < n; ++i) sum += f(CodeOf(items[i]));
  return sum;
}

}  // namespace

VarType ItemTypeAt(const Variant& itemTypes, std::int64_t k) {
  if (!itemTypes.IsArray()) return CodeOf(itemTypes);
  const SafeArray& a = itemTypes.Array();
  if (a.Dims() != 1 || k < 0 || k >= static_cast<std::int64_t>(a.Size())) return VT_EMPTY;
  return CodeOf(a.Flat(static_cast<std::size_t>(k)));
}

std::int64_t ValueByteSize(const Variant& itemTypes) {
  return SumOver(itemTypes, ItemTypeCount(itemTypes), TypeByteSize);
}

std::int64_t ItemRegisterCount(const Variant& itemTypes) {
  return SumOver(itemTypes, ItemTypeCount(itemTypes), TypeRegisterCount);
}

std::int64_t ItemRegisterOffset(const Variant& itemTypes, std::int64_t start, std::int64_t k) {
  return start + SumOver(itemTypes, k + 1, TypeRegisterCount);
}

std::int64_t ItemStartOffset(const Variant& itemTypes, std::int64_t start, std::int64_t k) {
  return start + SumOver(itemTypes, k, TypeRegisterCount);
}

void ConvertToItemTypes(Variant& value, const Variant& itemTypes) {
  if (!value.IsArray()) {
    const VarType vt = ItemTypeAt(itemTypes, 0);
    if (vt != VT_EMPTY) value = CastValue(value, vt);
    return;
  }
  const SafeArray& src = value.Array();
  if (src.Dims() > 2) return;
  SafeArray out(VT_VARIANT, src.Bounds());
  const std::size_t fields = src.Dims() == 2 ? src.Count(1) : src.Size();
  for (std::size_t k = 0; k < src.Size(); ++k) {
    const std::int64_t item = static_cast<std::int64_t>(fields ? k % fields : 0);
    const VarType vt = ItemTypeAt(itemTypes, item);
    out.SetFlat(k, vt == VT_EMPTY ? src.Flat(k) : CastValue(src.Flat(k), vt));
  }
  value = Variant(std::move(out));
}

}  // namespace tarvo
