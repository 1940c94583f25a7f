#pragma once
// Normalisation of every Variant that arrives through the automation interface: scalars are
// copied (converted to the given type), one-dimensional arrays become arrays of Variants element
// by element, and arrays of more dimensions are not taken at all.

#include "platform/variant/Variant.h"

namespace tarvo {

// Stores the normalised source in dest and returns true; a source of two or more dimensions
// leaves dest as it was and returns false. Raises VariantError when the scalar conversion fails.
bool OleToVar(const Variant& source, VarType vt, Variant& dest);

// The form every automation method uses: the source's own type.
inline bool OleToVar(const Variant& source, Variant& dest) {
  return OleToVar(source, source.IsArray() ? VarType(VT_VARIANT) : source.vt(), dest);
}

}  // namespace tarvo
