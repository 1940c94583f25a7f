#pragma once
// The item type map of a register run: how many registers and bytes each value type takes, where
// each item starts, and the conversion of a server answer to the map's types.

#include <cstdint>

#include "platform/variant/Variant.h"

namespace tarvo {

// The register value types of the server's type library (Variant type codes).
inline constexpr VarType dtSignedWord = VT_I2;
inline constexpr VarType dtSignedDoubleWord = VT_I4;
inline constexpr VarType dtSingle = VT_R4;
inline constexpr VarType dtSignedByte = VT_I1;
inline constexpr VarType dtUnsignedByte = VT_UI1;
inline constexpr VarType dtUnsignedWord = VT_UI2;
inline constexpr VarType dtUnsignedDoubleWord = VT_UI4;

// Registers one value of the type occupies (an 8-bit value takes a whole register); 0 for the
// computed types and any other code.
int TypeRegisterCount(VarType vt);
// Bytes of one value of a register type; 0 for any other code.
int TypeByteSize(VarType vt);

// Items in a map: 0 for an empty map, 1 for a single code, else the array's element count.
std::int64_t ItemTypeCount(const Variant& itemTypes);
// The type code of item k (array maps by position from their lower bound; a single code serves
// every item); VT_EMPTY when k is outside an array map or an element holds no number.
VarType ItemTypeAt(const Variant& itemTypes, std::int64_t k);

// Sum of the byte sizes of the map's items.
std::int64_t ValueByteSize(const Variant& itemTypes);
// Sum of the register counts of the map's items.
std::int64_t ItemRegisterCount(const Variant& itemTypes);

// start + the register counts of items 0 ... k: the address just past item k.
std::int64_t ItemRegisterOffset(const Variant& itemTypes, std::int64_t start, std::int64_t k);
// start + the register counts of items 0 ... k-1: the address where item k starts.
std::int64_t ItemStartOffset(const Variant& itemTypes, std::int64_t start, std::int64_t k);

// Converts an answer of the server to the map's types in place (CastValue per element): a
// single value to the single code, element i of a 1-D array to item i's type, element [i, j]
// of a 2-D array (archive record i, field j) to item j's type. Elements without a type in the
// map are left as they are. Arrays come back as arrays of Variants with the same bounds.
void ConvertToItemTypes(Variant& value, const Variant& itemTypes);

}  // namespace tarvo
