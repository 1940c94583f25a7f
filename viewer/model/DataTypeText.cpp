// TDataType: the texts of unit cells, shown and typed.
#include <cmath>
#include <exception>

#include "viewer/model/DataType.h"
#include "viewer/model/StdFormat.h"
#include "viewer/model/ValueConv.h"
#include "viewer/model/ValueParse.h"

namespace tarvo {
namespace {

constexpr const char* kFormatError = "Ошибка формата";

bool IsShownInteger(VarType vt) {
  switch (vt) {
    // I8 is what integer formulas give; shown like the register types rather than left blank.
    case VT_I2: case VT_I4: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: return true;
    default: return false;
  }
}

std::string FormatByCode(const Variant& v, int code) {
  const VarType vt = v.vt();
  if (IsShownInteger(vt)) {
    const std::int64_t n = v.RawInt();
    if (code >= 0 && code <= 29) return StdFormat(FormatOfCode(code), {Variant(static_cast<double>(n))});
    if (code == 30 || code == 31) return StdFormat(FormatOfCode(code), {v});
    if (code >= 32 && code <= 44)
      return FormatCalendar(FormatOfCode(code), DeviceSecondsToParts(static_cast<std::uint32_t>(n)));
    if (code == 45) {
      const std::int64_t rest = n % 86400;
      return std::to_string(n / 86400) + "  " + std::to_string(rest / 3600) + ":" +
             std::to_string(rest % 3600 / 60) + ":" + std::to_string(rest % 60);
    }
    if (code == 46)
      return std::to_string(n / 3600) + ":" + std::to_string(n % 3600 / 60) + ":" + std::to_string(n % 60);
    return {};
  }
  if (vt == VT_R4 || vt == VT_R8) {
    if (code > 31) return "Ошибка формата: дата должна быть числом целого типа";
    return StdFormat(FormatOfCode(code), {v});  // "%x" on a float raises: the format error text
  }
  if (vt == VT_BOOL) return v.RawInt() ? "True" : "False";
  return {};
}

}  // namespace

std::string TDataType::FormatValue(const Variant& raw, std::int32_t u) const {
  try {
    if (!ValidUnit(u)) return kFormatError;
    const TDataUnit& unit = DataUnits[static_cast<std::size_t>(u)];
    if (IsBitDescription()) {
      const bool set = raw.ToBool();
      if (unit.FrmtType == 0) return set ? "1" : "0";
      if (unit.FrmtType == 1) return set ? unit.Units : unit.ReadFormula;
      return "DataUnits[Index].FrmtType вне границ [0..1]";
    }
    const Variant v = GetEngValue(raw, u);
    switch (unit.FrmtType) {
      case 0: return v.ToString();
      case 1: return "$" + ValueToHex(v);
      case 2: return ValueToBin(v);
      case 3: return FormatByCode(v, unit.FrmtCode);
      case 4: {
        const double index = v.ToDouble();
        if (!unit.EnumNames.empty() && index >= 0 && index < static_cast<double>(unit.EnumNames.size()))
          return unit.EnumNames[static_cast<std::size_t>(std::trunc(index))];
        return "Ошибка формата: Индекс вышел за пределы списка";
      }
      default: return "DataUnits[Index].FrmtType вне границ [0..4]";
    }
  } catch (const std::exception&) {
    return kFormatError;
  }
}

bool TDataType::ParseUnitText(std::string_view text, VarType type, std::int32_t u, Variant& value) const {
  if (text.empty() || !ValidUnit(u)) return false;
  try {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (s.front() == 'x') return false;
    if (type == VT_BOOL) return StrToValue(s, type, value);
    const TDataUnit& unit = DataUnits[static_cast<std::size_t>(u)];
    const TFormatKind kind = unit.FormatKind();
    std::string_view digits;
    switch (ModeOfText(s, false, digits)) {
      case TextMode::Hex: return kind == TFormatKind::Hex && ParseHexDigits(digits, type, value);
      case TextMode::Bin: return kind == TFormatKind::Binary && ParseBinDigits(digits, type, value);
      case TextMode::Date: return false;
      case TextMode::Decimal: break;
    }
    switch (kind) {
      case TFormatKind::Decimal: return ParseDecimal(s, type, value);
      case TFormatKind::Calendar: {
        std::string dateFormat, timeFormat;
        std::uint32_t seconds = 0;
        if (type != VT_UI4 || !CalendarEntryFormats(unit.FrmtCode, dateFormat, timeFormat) ||
            !ParseDeviceSeconds(s, dateFormat, timeFormat, seconds))
          return false;
        value = Variant(seconds);
        return true;
      }
      case TFormatKind::Hours: return ParseDuration(s, 3, type, value);
      case TFormatKind::Days: return ParseDuration(s, 4, type, value);
      default: return false;
    }
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tarvo
