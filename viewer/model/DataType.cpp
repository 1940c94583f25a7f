#include "viewer/model/DataType.h"

#include <exception>

#include "viewer/model/DocStream.h"
#include "viewer/model/ItemTypes.h"
#include "viewer/model/Operations.h"
#include "viewer/model/ValueConv.h"

namespace tarvo {
namespace {

// The smallest a stored unit can be: ItemIndex, three bytes, two strings, UseFormula, two
// strings and the name count. Used to refuse counts the stream cannot hold before allocating.
constexpr std::size_t kMinUnitBytes = 4 + 3 + 4 + 4 + 1 + 4 + 4 + 4;

void Require(bool ok, const std::string& what) {
  if (!ok) throw EDocStreamError("Stream read error: " + what + " in TDataType.LoadFromStream");
}

TDataUnit ReadUnit(TDocStream& s) {
  TDataUnit u;
  u.ItemIndex = s.ReadInteger();
  u.Hidden = s.ReadByte() != 0;
  u.FrmtType = s.ReadByte();
  u.FrmtCode = s.ReadByte();
  u.Name = s.ReadString();
  u.Units = s.ReadString();
  u.UseFormula = s.ReadByte() != 0;
  u.ReadFormula = s.ReadString();
  u.WriteFormula = s.ReadString();
  const std::int32_t names = s.ReadInteger();
  if (names > 0) {
    Require(static_cast<std::size_t>(names) <= s.Remaining() / 4, "a unit of " + std::to_string(names) + " names");
    u.EnumNames.reserve(static_cast<std::size_t>(names));
    for (std::int32_t i = 0; i < names; ++i) u.EnumNames.push_back(s.ReadString());
  }
  return u;
}

void WriteUnit(TDocStream& s, const TDataUnit& u) {
  s.WriteInteger(u.ItemIndex);
  s.WriteByte(u.Hidden ? 1 : 0);
  s.WriteByte(u.FrmtType);
  s.WriteByte(u.FrmtCode);
  s.WriteString(u.Name);
  s.WriteString(u.Units);
  s.WriteByte(u.UseFormula ? 1 : 0);
  s.WriteString(u.ReadFormula);
  s.WriteString(u.WriteFormula);
  s.WriteInteger(static_cast<std::int32_t>(u.EnumNames.size()));
  for (const std::string& name : u.EnumNames) s.WriteString(name);
}

// A stored map array becomes 0 ... n-1 of 32-bit codes; a shorter one means a damaged file.
Variant NormalizeItemTypes(const Variant& stored, std::int32_t n) {
  if (!stored.IsArray()) return stored;
  const SafeArray& a = stored.Array();
  Require(a.Dims() == 1 && a.Size() >= static_cast<std::size_t>(n),
          "an item type map of " + std::to_string(a.Size()) + " codes for " + std::to_string(n) + " items");
  SafeArray out(VT_I4, 0, static_cast<std::uint32_t>(n));
  for (std::int32_t k = 0; k < n; ++k) {
    try {
      out.SetFlat(static_cast<std::size_t>(k), Variant(a.Flat(static_cast<std::size_t>(k)).ToInt32()));
    } catch (const VariantError&) {
      Require(false, "an item type code that is not a number");
    }
  }
  return Variant(std::move(out));
}

}  // namespace

Variant ElementOf(const Variant& values, std::int64_t k) {
  if (!values.IsArray()) return values;
  const SafeArray& a = values.Array();
  if (a.Dims() != 1 || k < 0 || k >= static_cast<std::int64_t>(a.Size())) return Variant();
  return a.Flat(static_cast<std::size_t>(k));
}

VarType TDataType::ItemType(std::int64_t k) const { return ItemTypeAt(ItemTypes, k); }

VarType TDataType::UnitValueType(std::int32_t u) const {
  if (!ValidUnit(u)) return ItemType(0);
  const TDataUnit& unit = DataUnits[static_cast<std::size_t>(u)];
  return unit.IsFloatFormula() ? VT_R8 : ItemType(unit.ItemIndex);
}

void TDataType::LoadFromStream(TDocStream& s) {
  TDataType d;
  d.FrameKind = FrameKind;
  d.Owner = Owner;
  d.ItemCount = s.ReadInteger();
  d.Empty = d.ItemCount < 1;
  if (!d.Empty) {
    Require(static_cast<std::uint32_t>(d.ItemCount) <= TDocStream::kMaxArrayItems,
            std::to_string(d.ItemCount) + " items");
    const std::int32_t units = s.ReadInteger();
    Require(units >= 0 && static_cast<std::size_t>(units) <= s.Remaining() / kMinUnitBytes,
            std::to_string(units) + " data units");
    d.Writable = s.ReadByte() != 0;
    d.ItemTypes = NormalizeItemTypes(s.ReadVariant(), d.ItemCount);
    d.DefaultValues = s.ReadVariant();
    d.DataUnits.reserve(static_cast<std::size_t>(units));
    for (std::int32_t i = 0; i < units; ++i) d.DataUnits.push_back(ReadUnit(s));
    d.DeriveValues();
  }
  *this = std::move(d);
}

void TDataType::DeriveValues() {
  // Derived values are a convenience: a default that does not fit leaves its value empty
  // rather than refusing the project.
  try {
    ReadValues = DefaultValues;
    if ((FrameKind == kFrameBit || FrameKind == kFrameBitPeriod) && DefaultValues.IsArray()) {
      const SafeArray& a = DefaultValues.Array();
      SafeArray bits(VT_BOOL, a.Bounds());
      for (std::size_t i = 0; i < a.Size(); ++i) bits.SetFlat(i, CastValue(a.Flat(i), VT_BOOL));
      ReadValues = Variant(std::move(bits));
    }
  } catch (const std::exception&) {
  }
  const std::int32_t units = UnitCount();
  if (units == 0) return;
  auto defaultOf = [&](std::int32_t u) {
    return ElementOf(DefaultValues, DataUnits[static_cast<std::size_t>(u)].ItemIndex);
  };
  // First pass: raw defaults, so that formulas reading w-values see something while the
  // second pass runs.
  if (units == 1) {
    try {
      WriteValues = CastValue(defaultOf(0), UnitValueType(0));
    } catch (const std::exception&) {
    }
  } else {
    SafeArray w(VT_VARIANT, 0, static_cast<std::uint32_t>(units));
    for (std::int32_t u = 0; u < units; ++u) {
      try {
        w.SetFlat(static_cast<std::size_t>(u), CastValue(defaultOf(u), UnitValueType(u)));
      } catch (const std::exception&) {
      }
    }
    WriteValues = Variant(std::move(w));
  }
  for (std::int32_t u = 0; u < units; ++u) {
    try {
      Variant v = CastValue(GetEngValue(defaultOf(u), u), UnitValueType(u));
      if (units == 1) WriteValues = std::move(v);
      else WriteValues.Array().SetFlat(static_cast<std::size_t>(u), std::move(v));
    } catch (const std::exception&) {
    }
  }
}

void TDataType::SaveToStream(TDocStream& s) const {
  const bool empty = Empty || ItemCount < 1;
  // An empty description with a stale count would make the units look present on reading.
  s.WriteInteger(empty && ItemCount >= 1 ? 0 : ItemCount);
  if (empty) return;
  s.WriteInteger(UnitCount());
  s.WriteByte(Writable ? 1 : 0);
  s.WriteVariant(ItemTypes);
  s.WriteVariant(DefaultValues);
  for (const TDataUnit& u : DataUnits) WriteUnit(s, u);
}

Variant TDataType::GetEngValue(const Variant& raw, std::int32_t u) const {
  if (!ValidUnit(u)) return raw;
  const TDataUnit& unit = DataUnits[static_cast<std::size_t>(u)];
  const VarType type = unit.IsFloatFormula() ? VT_R8 : raw.vt();
  if (!unit.UseFormula || unit.ReadFormula.empty()) return CastValue(raw, type);
  try {
    TOperations ops;
    Variant result;
    if (ops.Evaluate(unit.ReadFormula, ReadValues, result, u, unit.ItemIndex,
                     IsReadOnlyRegisters() ? nullptr : &WriteValues))
      return result;
  } catch (const std::exception&) {
  }
  return raw;
}

bool TDataType::SetWriteValue(const Variant& value, std::int32_t u) {
  if (ItemCount < 1) return false;
  const std::int32_t units = UnitCount();
  if (units >= 2 && !ValidUnit(u)) return false;
  Variant v;
  try {
    v = CastValue(value, UnitValueType(units == 0 ? 0 : u));
  } catch (const std::exception&) {
    return false;
  }
  if (units < 2) {
    WriteValues = std::move(v);
    return true;
  }
  if (!WriteValues.IsArray() || WriteValues.Array().Dims() != 1 ||
      WriteValues.Array().Size() != static_cast<std::size_t>(units) || WriteValues.Array().ElemVt() != VT_VARIANT) {
    SafeArray w(VT_VARIANT, 0, static_cast<std::uint32_t>(units));
    for (std::int32_t i = 0; i < units; ++i) w.SetFlat(static_cast<std::size_t>(i), ElementOf(WriteValues, i));
    WriteValues = Variant(std::move(w));
  }
  WriteValues.Array().SetFlat(static_cast<std::size_t>(u), std::move(v));
  return true;
}

Variant TDataType::UnitWriteValue(std::int32_t u) const {
  return UnitCount() <= 1 ? WriteValues : ElementOf(WriteValues, u);
}

Variant TDataType::ItemWriteValue(std::int64_t k) const {
  const VarType type = ItemType(k);
  const std::int32_t u = ItemCount == 1 ? (UnitCount() > 0 ? 0 : -1) : UnitOfItem(static_cast<std::int32_t>(k));
  if (u < 0) return CastValue(ItemCount == 1 ? ReadValues : ElementOf(ReadValues, k), type);
  const TDataUnit& unit = DataUnits[static_cast<std::size_t>(u)];
  if (unit.UseFormula && !unit.WriteFormula.empty()) {
    TOperations ops;
    Variant result;
    bool ok = false;
    try {
      ok = ops.Evaluate(unit.WriteFormula, ReadValues, result, u, unit.ItemIndex, &WriteValues);
    } catch (const std::exception&) {
    }
    if (ok) {
      try {
        return CastValue(result, type);
      } catch (const std::exception&) {
      }
    }
  }
  return CastValue(UnitWriteValue(u), type);
}

Variant TDataType::BuildWriteValue() const {
  if (ItemCount < 1) return Variant();
  if (ItemCount == 1) return ItemWriteValue(0);
  SafeArray out(VT_VARIANT, 0, static_cast<std::uint32_t>(ItemCount));
  for (std::int32_t k = 0; k < ItemCount; ++k) out.SetFlat(static_cast<std::size_t>(k), ItemWriteValue(k));
  return Variant(std::move(out));
}

std::int32_t TDataType::UnitOfItem(std::int32_t k) const {
  for (std::int32_t u = 0; u < UnitCount(); ++u)
    if (DataUnits[static_cast<std::size_t>(u)].ItemIndex == k) return u;
  return -1;
}

std::int32_t TDataType::UnitOfRow(std::int32_t row) const {
  if (row < 0) return -1;
  for (std::int32_t u = 0; u < UnitCount(); ++u)
    if (!DataUnits[static_cast<std::size_t>(u)].Hidden && row-- == 0) return u;
  return -1;
}

}  // namespace tarvo
