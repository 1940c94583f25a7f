#pragma once
// TDataType: the data description of a device frame: the register run's item types, the rows
// shown (data units), defaults, the values last read and the values to write.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant/Variant.h"
#include "viewer/model/DataUnit.h"

namespace tarvo {

class TDocStream;
class TBaseFrame;

// Frame kind codes the description's behaviour depends on.
inline constexpr std::uint8_t kFrameStruct = 5;
inline constexpr std::uint8_t kFrameROStruct = 7;
inline constexpr std::uint8_t kFrameStructPeriod = 9;
inline constexpr std::uint8_t kFrameROStructPeriod = 11;
inline constexpr std::uint8_t kFrameBit = 12;
inline constexpr std::uint8_t kFrameROBit = 13;
inline constexpr std::uint8_t kFrameBitPeriod = 14;
inline constexpr std::uint8_t kFrameROBitPeriod = 15;

class TDataType {
 public:
  Variant ItemTypes;      // one type code when ItemCount is 1, else an array 0 ... N-1
  bool Empty = true;      // no items
  bool Writable = false;
  std::int32_t ItemCount = 0;
  std::vector<TDataUnit> DataUnits;
  Variant ReadValues;     // raw values as last read; an array 0 ... N-1 when N > 1
  Variant WriteValues;    // per unit, engineering terms; an array when UnitCount() > 1
  Variant DefaultValues;  // raw defaults as stored; shaped as ReadValues
  std::uint8_t FrameKind = 0;
  TBaseFrame* Owner = nullptr;  // not owned

  std::int32_t UnitCount() const { return static_cast<std::int32_t>(DataUnits.size()); }

  // Stream layout: ItemCount, and unless empty UnitCount, Writable, ItemTypes, DefaultValues
  // and the units. Loading replaces the description and derives ReadValues and WriteValues;
  // a damaged stream raises EDocStreamError and leaves the description as it was.
  void LoadFromStream(TDocStream& s);
  void SaveToStream(TDocStream& s) const;

  // The value unit u shows for a raw item value: the read formula's result, or raw cast to
  // the unit's type when there is none or it fails.
  Variant GetEngValue(const Variant& raw, std::int32_t u) const;
  // The text of unit u's cell; formatting errors come back as their texts.
  std::string FormatValue(const Variant& raw, std::int32_t u) const;
  // What the user typed into unit u's cell, read as the type; false when it is not acceptable.
  bool ParseUnitText(std::string_view text, VarType type, std::int32_t u, Variant& value) const;
  // Stores an entered value as unit u's write value; false when nothing was stored.
  bool SetWriteValue(const Variant& value, std::int32_t u);
  // The raw value (N = 1) or array 0 ... N-1 to send in a write request; empty for N = 0.
  Variant BuildWriteValue() const;

  // The first unit showing item k, or -1.
  std::int32_t UnitOfItem(std::int32_t k) const;
  // The unit of the row-th visible row, or -1.
  std::int32_t UnitOfRow(std::int32_t row) const;

  // Type code of item k (VT_EMPTY when there is none).
  VarType ItemType(std::int64_t k) const;
  // The type a unit's values are held in: R8 for float formulas, else its item's type.
  VarType UnitValueType(std::int32_t u) const;

 private:
  bool IsBitDescription() const { return FrameKind >= kFrameBit && FrameKind <= kFrameROBitPeriod; }
  bool IsReadOnlyRegisters() const { return FrameKind == kFrameROStruct || FrameKind == kFrameROStructPeriod; }
  bool ValidUnit(std::int32_t u) const { return u >= 0 && u < UnitCount(); }
  // Unit u's write value: WriteValues itself for one unit or none, else its element u.
  Variant UnitWriteValue(std::int32_t u) const;
  Variant ItemWriteValue(std::int64_t k) const;
  void DeriveValues();
};

// The element k of a value list (single value when it is not an array); empty when absent.
Variant ElementOf(const Variant& values, std::int64_t k);

}  // namespace tarvo
