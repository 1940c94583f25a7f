#include "server/core/MasterProps.h"

namespace tarvo {

namespace {

const SafeArray& PropsArray(const Variant& props) {
  if (!props.IsArray() || props.Array().Dims() != 1 || props.Array().Lower() != 0)
    throw VariantError(VariantErrorKind::BadArray,
                       "The master property array must be a one-dimensional array from 0");
  return props.Array();
}

[[noreturn]] void Refuse(const char* what) {
  throw VariantError(VariantErrorKind::Overflow, std::string("Master property out of range: ") + what);
}

}  // namespace

std::int32_t ReadMasterType(const Variant& props) { return PropsArray(props).At(0).ToInt32(); }

TModbusSettings ReadModbusSettings(const Variant& props) {
  const SafeArray& a = PropsArray(props);
  if (a.Count() < kMasterPropsSize)
    throw VariantError(VariantErrorKind::BadIndex, "The master property array needs 7 elements");
  TModbusSettings s;
  s.DevAddr = static_cast<std::uint8_t>(a.At(1).ToInt64() & 0xFF);
  std::int64_t mode = a.At(2).ToInt64() & 0xFF;
  std::int64_t parity = a.At(3).ToInt64() & 0xFF;
  if (mode > mmASCII) Refuse("framing");
  if (parity > mpEven) Refuse("parity");
  s.Mode = static_cast<TModbusMode>(mode);
  s.Parity = static_cast<TModbusParity>(parity);
  s.Retries = a.At(4).ToInt32();
  if (s.Retries < 0) Refuse("attempts");
  s.AdjustToWord = a.At(5).ToBool();
  s.OptimalUseFunction = a.At(6).ToBool();
  return s;
}

}  // namespace tarvo
