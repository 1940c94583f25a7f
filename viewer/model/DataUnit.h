#pragma once
// TDataUnit: one row of a data description: which item it shows and how.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// The texts a unit accepts, from its display type and format code.
enum class TFormatKind : int { Decimal = 0, Hex = 1, Binary = 2, Calendar = 3, Hours = 4, Days = 5 };

struct TDataUnit {
  std::int32_t ItemIndex = 0;
  bool Hidden = false;
  std::string Name;
  std::string Units;         // beside the value; in bit descriptions the text of a set bit
  std::uint8_t FrmtType = 0;  // 0 decimal, 1 hexadecimal, 2 binary, 3 by FrmtCode, 4 enumeration
  std::uint8_t FrmtCode = 0;
  bool UseFormula = false;
  std::string ReadFormula;   // in bit descriptions the text of a clear bit
  std::string WriteFormula;
  std::vector<std::string> EnumNames;  // empty when the unit has none

  TFormatKind FormatKind() const {
    switch (FrmtType) {
      case 0: return TFormatKind::Decimal;
      case 1: return TFormatKind::Hex;
      case 2: return TFormatKind::Binary;
      case 3:
        if (FrmtCode == 30 || FrmtCode == 31) return TFormatKind::Hex;
        if (FrmtCode >= 32 && FrmtCode <= 44) return TFormatKind::Calendar;
        if (FrmtCode == 45) return TFormatKind::Days;
        if (FrmtCode == 46) return TFormatKind::Hours;
        return TFormatKind::Decimal;
      default: return TFormatKind::Decimal;
    }
  }
  // Values of such a unit are held as 64-bit floats.
  bool IsFloatFormula() const { return UseFormula && FrmtType == 3 && FrmtCode >= 10 && FrmtCode <= 29; }

  bool operator==(const TDataUnit&) const = default;
};

}  // namespace tarvo
