#include "platform/variant/OleToVar.h"

namespace tarvo {

bool OleToVar(const Variant& source, VarType vt, Variant& dest) {
  if (!source.IsArray()) {
    dest = source.ChangeType(vt);
    return true;
  }
  const SafeArray& src = source.Array();
  if (src.Dims() != 1) return false;
  SafeArray out(VT_VARIANT, src.Lower(), src.Count());
  for (std::size_t k = 0; k < src.Size(); ++k) {
    const Variant& item = src.Flat(k);
    Variant converted;  // an element of two or more dimensions stays Unassigned
    OleToVar(item, converted);
    out.SetFlat(k, std::move(converted));
  }
  dest = Variant(std::move(out));
  return true;
}

}  // namespace tarvo
