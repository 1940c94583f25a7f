#pragma once
// Variant: the tagged value that crosses the automation boundary and fills every request and reply.
// Type codes are OLE's numbers, because the server's data type codes are those numbers.

#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

using VarType = std::uint16_t;

inline constexpr VarType VT_EMPTY = 0;
inline constexpr VarType VT_NULL = 1;
inline constexpr VarType VT_I2 = 2;
inline constexpr VarType VT_I4 = 3;
inline constexpr VarType VT_R4 = 4;
inline constexpr VarType VT_R8 = 5;
inline constexpr VarType VT_CY = 6;
inline constexpr VarType VT_DATE = 7;
inline constexpr VarType VT_BSTR = 8;
inline constexpr VarType VT_ERROR = 10;
inline constexpr VarType VT_BOOL = 11;
inline constexpr VarType VT_VARIANT = 12;
inline constexpr VarType VT_I1 = 16;
inline constexpr VarType VT_UI1 = 17;
inline constexpr VarType VT_UI2 = 18;
inline constexpr VarType VT_UI4 = 19;
inline constexpr VarType VT_I8 = 20;
inline constexpr VarType VT_UI8 = 21;
inline constexpr VarType VT_INT = 22;
inline constexpr VarType VT_UINT = 23;
inline constexpr VarType VT_ARRAY = 0x2000;
inline constexpr VarType VT_TYPEMASK = 0x0FFF;

// True for the scalar codes a Variant can hold.
bool IsValidScalarVarType(VarType vt);
// Bytes of one element of that type in OLE memory (BSTR and VARIANT elements count their
// pointer or record size there); 0 for EMPTY, NULL and unknown codes.
int VarTypeSize(VarType vt);
// "EMPTY", "UI2", ... for messages.
std::string_view VarTypeName(VarType vt);

enum class VariantErrorKind { TypeMismatch, Overflow, BadIndex, BadArray };

// A failed conversion or array access; the kind says which.
class VariantError : public std::runtime_error {
 public:
  VariantError(VariantErrorKind kind, const std::string& what)
      : std::runtime_error(what), kind_(kind) {}
  VariantErrorKind kind() const { return kind_; }

 private:
  VariantErrorKind kind_;
};

class SafeArray;

// A value of one VarType, or an array (VT_ARRAY | element type). Copies are deep.
class Variant {
 public:
  Variant() = default;
  Variant(bool v) : vt_(VT_BOOL) { n_.i = v ? -1 : 0; }
  Variant(std::int8_t v) : vt_(VT_I1) { n_.i = v; }
  Variant(std::uint8_t v) : vt_(VT_UI1) { n_.i = v; }
  Variant(std::int16_t v) : vt_(VT_I2) { n_.i = v; }
  Variant(std::uint16_t v) : vt_(VT_UI2) { n_.i = v; }
  Variant(std::int32_t v) : vt_(VT_I4) { n_.i = v; }
  Variant(std::uint32_t v) : vt_(VT_UI4) { n_.i = v; }
  Variant(std::int64_t v) : vt_(VT_I8) { n_.i = v; }
  Variant(std::uint64_t v) : vt_(VT_UI8) { n_.u = v; }
  Variant(float v) : vt_(VT_R4) { n_.d = v; }
  Variant(double v) : vt_(VT_R8) { n_.d = v; }
  Variant(std::string v) : vt_(VT_BSTR), s_(std::make_unique<std::string>(std::move(v))) {}
  Variant(const char* v) : vt_(VT_BSTR), s_(std::make_unique<std::string>(v ? v : "")) {}
  Variant(SafeArray a);

  static Variant Null();
  static Variant Date(double oleDate);
  // Currency as its scaled 64-bit integer (value × 10000).
  static Variant Currency(std::int64_t scaled);
  static Variant Error(std::int32_t scode);
  static Variant Int(std::int32_t v);
  static Variant UInt(std::uint32_t v);
  // Any scalar type from a 64-bit integer, range-checked.
  static Variant FromInt(VarType vt, std::int64_t v);

  Variant(const Variant& o);
  Variant(Variant&& o) noexcept = default;
  Variant& operator=(const Variant& o);
  Variant& operator=(Variant&& o) noexcept = default;
  ~Variant();

  // The full type: VT_ARRAY | element type for arrays.
  VarType vt() const;
  bool IsEmpty() const { return vt_ == VT_EMPTY; }
  bool IsNull() const { return vt_ == VT_NULL; }
  bool IsArray() const { return arr_ != nullptr; }
  // Number of array dimensions; 0 for a scalar.
  int Dims() const;
  const SafeArray& Array() const;
  SafeArray& Array();

  // Conversions with VariantChangeType's rules: strings holding numbers convert to numbers,
  // Booleans are -1/0 as integers, floats round half to even, out-of-range values raise
  // VariantErrorKind::Overflow and impossible ones TypeMismatch. Converting to the value's own
  // type is a plain copy.
  Variant ChangeType(VarType target) const;
  std::int64_t ToInt64() const;
  std::int32_t ToInt32() const;
  std::uint32_t ToUInt32() const;
  bool ToBool() const;
  double ToDouble() const;
  double ToDate() const;
  std::string ToString() const;

  // Exact stored value, no conversion (valid for the matching types only).
  std::int64_t RawInt() const { return n_.i; }
  std::uint64_t RawUInt() const { return n_.u; }
  double RawReal() const { return n_.d; }
  const std::string& RawString() const;

  // Same type and same value; arrays compare bounds and elements.
  bool operator==(const Variant& o) const;
  bool operator!=(const Variant& o) const { return !(*this == o); }

  // "UI2 10", "ARRAY(UI1)[0..1]{UI1 1, UI1 2}": for logs and test messages.
  std::string Describe() const;

 private:
  VarType vt_ = VT_EMPTY;
  union {
    std::int64_t i;  // integers, BOOL (-1/0), CY (scaled), ERROR
    std::uint64_t u; // UI8
    double d;        // R4, R8, DATE
  } n_{0};
  // Strings and arrays live on the heap so that the common numeric Variant stays small and cheap
  // to move.
  std::unique_ptr<std::string> s_;
  std::unique_ptr<SafeArray> arr_;
};

void PrintTo(const Variant& v, std::ostream* os);
std::ostream& operator<<(std::ostream& os, const Variant& v);

// One dimension of a SafeArray.
struct ArrayBound {
  std::int32_t lower = 0;
  std::uint32_t count = 0;
};

// An array with an element type and one or more dimensions, each with its own lower bound.
// Elements are stored row-major (the last index varies fastest). Elements of a typed array
// always hold the element type; a VT_VARIANT array holds any Variant, arrays included.
class SafeArray {
 public:
  SafeArray(VarType elemVt, std::int32_t lower, std::uint32_t count);
  SafeArray(VarType elemVt, std::vector<ArrayBound> bounds);
  // A one-dimensional array [0..n-1] of the given items (converted when elemVt is typed).
  static SafeArray Of(VarType elemVt, std::vector<Variant> items);

  VarType ElemVt() const { return elemVt_; }
  int Dims() const { return static_cast<int>(bounds_.size()); }
  const std::vector<ArrayBound>& Bounds() const { return bounds_; }
  std::int32_t Lower(int dim = 0) const;
  std::int64_t Upper(int dim = 0) const;  // Lower + count - 1; Lower - 1 when empty
  std::uint32_t Count(int dim = 0) const;
  std::size_t Size() const { return items_.size(); }

  // Element access by index as the caller sees it, bounds included; a wrong index or a wrong
  // number of indices raises VariantErrorKind::BadIndex.
  const Variant& At(std::int64_t i) const;
  const Variant& At(std::int64_t i, std::int64_t j) const;
  void Set(std::int64_t i, Variant v);
  void Set(std::int64_t i, std::int64_t j, Variant v);

  // All elements in storage order.
  const std::vector<Variant>& Items() const { return items_; }
  const Variant& Flat(std::size_t k) const { return items_.at(k); }
  void SetFlat(std::size_t k, Variant v);

  bool operator==(const SafeArray& o) const;

 private:
  std::size_t Offset(std::int64_t i, int dim) const;
  Variant Fit(Variant v) const;

  VarType elemVt_;
  std::vector<ArrayBound> bounds_;
  std::vector<Variant> items_;
};

}  // namespace tarvo
