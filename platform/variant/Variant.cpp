#include "platform/variant/Variant.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "platform/variant/OleDate.h"

namespace tarvo {

namespace {

// Arrays larger than this are refused rather than allocated: no value the system exchanges comes
// near it, and a hostile size must not exhaust memory.
constexpr std::uint64_t kMaxArrayItems = 1u << 20;

[[noreturn]] void Mismatch(VarType from, VarType to) {
  throw VariantError(VariantErrorKind::TypeMismatch,
                     "Invalid variant type conversion from " + std::string(VarTypeName(from)) +
                         " to " + std::string(VarTypeName(to)));
}

[[noreturn]] void Overflow(VarType from, VarType to) {
  throw VariantError(VariantErrorKind::Overflow, "Overflow while converting variant of type " +
                                                     std::string(VarTypeName(from)) +
                                                     " into type " + std::string(VarTypeName(to)));
}

// A numeric value on its way between two types: exact integers stay exact.
struct Num {
  enum Kind { Int, UInt, Real } kind = Int;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseNumber(std::string_view text, Num& out) {
  std::string s(Trim(text));
  if (s.empty()) return false;
  // "&H1F" is the automation's own hexadecimal form.
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(s.c_str() + 2, &end, 16);
    if (errno != 0 || *end != '\0' || s[2] == '-' || s[2] == '+') return false;
    out.kind = Num::UInt;
    out.u = v;
    return true;
  }
  std::size_t p = 0;
  if (s[p] == '+' || s[p] == '-') ++p;
  std::size_t digits = 0;
  while (p < s.size() && std::isdigit(static_cast<unsigned char>(s[p]))) ++p, ++digits;
  if (p == s.size() && digits > 0) {
    errno = 0;
    char* end = nullptr;
    if (s[0] == '-') {
      long long v = std::strtoll(s.c_str(), &end, 10);
      if (errno == 0) {
        out.kind = Num::Int;
        out.i = v;
        return true;
      }
    } else {
      unsigned long long v = std::strtoull(s.c_str(), &end, 10);
      if (errno == 0) {
        out.kind = Num::UInt;
        out.u = v;
        return true;
      }
    }
  }
  // Decimal fraction and exponent; no hexadecimal floats, no "inf" or "nan".
  for (char c : s) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' ||
          c == 'e' || c == 'E'))
      return false;
  }
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(d)) return false;
  out.kind = Num::Real;
  out.d = d;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
      return false;
  }
  return true;
}

bool IsIntegerType(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_ERROR:
      return true;
    default:
      return false;
  }
}

void IntRange(VarType vt, std::int64_t& lo, std::uint64_t& hi) {
  switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; break;
    case VT_UI1: lo = 0; hi = UINT8_MAX; break;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; break;
    case VT_UI2: lo = 0; hi = UINT16_MAX; break;
    case VT_I4: case VT_INT: case VT_ERROR: lo = INT32_MIN; hi = INT32_MAX; break;
    case VT_UI4: case VT_UINT: lo = 0; hi = UINT32_MAX; break;
    case VT_I8: lo = INT64_MIN; hi = INT64_MAX; break;
    default: lo = 0; hi = UINT64_MAX; break;  // VT_UI8
  }
}

std::string FormatReal(double d, int digits) {
  std::ostringstream os;
  os.precision(digits);
  os << d;
  return os.str();
}

}  // namespace

bool IsValidScalarVarType(VarType vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_ERROR: case VT_BOOL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

int VarTypeSize(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_INT: case VT_UINT: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: return 8;
    case VT_VARIANT: return 16;
    default: return 0;
  }
}

std::string_view VarTypeName(VarType vt) {
  if (vt & VT_ARRAY) return "ARRAY";
  switch (vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return "I2";
    case VT_I4: return "I4";
    case VT_R4: return "R4";
    case VT_R8: return "R8";
    case VT_CY: return "CY";
    case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";
    case VT_ERROR: return "ERROR";
    case VT_BOOL: return "BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_I1: return "I1";
    case VT_UI1: return "UI1";
    case VT_UI2: return "UI2";
    case VT_UI4: return "UI4";
    case VT_I8: return "I8";
    case VT_UI8: return "UI8";
    case VT_INT: return "INT";
    case VT_UINT: return "UINT";
    default: return "UNKNOWN";
  }
}

Variant::Variant(SafeArray a) : vt_(VT_ARRAY), arr_(std::make_unique<SafeArray>(std::move(a))) {}

Variant::Variant(const Variant& o) : vt_(o.vt_), n_(o.n_) {
  if (o.s_) s_ = std::make_unique<std::string>(*o.s_);
  if (o.arr_) arr_ = std::make_unique<SafeArray>(*o.arr_);
}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}

Variant::~Variant() = default;

const std::string& Variant::RawString() const {
  static const std::string kEmpty;
  return s_ ? *s_ : kEmpty;
}

Variant Variant::Null() {
  Variant v;
  v.vt_ = VT_NULL;
  return v;
}

Variant Variant::Date(double oleDate) {
  Variant v;
  v.vt_ = VT_DATE;
  v.n_.d = oleDate;
  return v;
}

Variant Variant::Currency(std::int64_t scaled) {
  Variant v;
  v.vt_ = VT_CY;
  v.n_.i = scaled;
  return v;
}

Variant Variant::Error(std::int32_t scode) {
  Variant v;
  v.vt_ = VT_ERROR;
  v.n_.i = scode;
  return v;
}

Variant Variant::Int(std::int32_t x) {
  Variant v;
  v.vt_ = VT_INT;
  v.n_.i = x;
  return v;
}

Variant Variant::UInt(std::uint32_t x) {
  Variant v;
  v.vt_ = VT_UINT;
  v.n_.i = x;
  return v;
}

Variant Variant::FromInt(VarType vt, std::int64_t x) { return Variant(x).ChangeType(vt); }

VarType Variant::vt() const { return arr_ ? VarType(VT_ARRAY | arr_->ElemVt()) : vt_; }

int Variant::Dims() const { return arr_ ? arr_->Dims() : 0; }

const SafeArray& Variant::Array() const {
  if (!arr_) throw VariantError(VariantErrorKind::BadArray, "Variant is not an array");
  return *arr_;
}

SafeArray& Variant::Array() {
  if (!arr_) throw VariantError(VariantErrorKind::BadArray, "Variant is not an array");
  return *arr_;
}

namespace {

Num ToNum(const Variant& v, VarType target) {
  Num n;
  if (v.IsArray()) Mismatch(v.vt(), target);
  switch (v.vt()) {
    case VT_EMPTY:
      return n;
    case VT_BOOL:
      n.i = v.RawInt() ? -1 : 0;
      return n;
    case VT_UI8:
      n.kind = Num::UInt;
      n.u = v.RawUInt();
      return n;
    case VT_R4: case VT_R8: case VT_DATE:
      n.kind = Num::Real;
      n.d = v.RawReal();
      return n;
    case VT_CY:
      n.kind = Num::Real;
      n.d = static_cast<double>(v.RawInt()) / 10000.0;
      return n;
    case VT_BSTR:
      if (!ParseNumber(v.RawString(), n)) Mismatch(VT_BSTR, target);
      return n;
    default:
      if (IsIntegerType(v.vt())) {
        n.i = v.RawInt();
        return n;
      }
      Mismatch(v.vt(), target);
  }
}

// Integer target from a number: exact for integers, round half to even for reals.
std::int64_t NumToInt(const Num& n, VarType from, VarType target, std::uint64_t* asUnsigned) {
  std::int64_t lo;
  std::uint64_t hi;
  IntRange(target, lo, hi);
  if (n.kind == Num::Real) {
    if (!std::isfinite(n.d)) Overflow(from, target);
    double r = std::nearbyint(n.d);
    if (r < static_cast<double>(lo) || r >= 18446744073709551616.0) Overflow(from, target);
    if (r < 0) {
      if (r < -9223372036854775808.0) Overflow(from, target);
      std::int64_t x = static_cast<std::int64_t>(r);
      if (x < lo) Overflow(from, target);
      *asUnsigned = static_cast<std::uint64_t>(x);
      return x;
    }
    std::uint64_t x = static_cast<std::uint64_t>(r);
    if (x > hi) Overflow(from, target);
    *asUnsigned = x;
    return static_cast<std::int64_t>(x);
  }
  if (n.kind == Num::UInt) {
    if (n.u > hi) Overflow(from, target);
    *asUnsigned = n.u;
    return static_cast<std::int64_t>(n.u);
  }
  if (n.i < lo || (n.i > 0 && static_cast<std::uint64_t>(n.i) > hi)) Overflow(from, target);
  *asUnsigned = static_cast<std::uint64_t>(n.i);
  return n.i;
}

double NumToReal(const Num& n) {
  switch (n.kind) {
    case Num::Int: return static_cast<double>(n.i);
    case Num::UInt: return static_cast<double>(n.u);
    default: return n.d;
  }
}

}  // namespace

Variant Variant::ChangeType(VarType target) const {
  if (target == vt()) return *this;
  if (IsArray() || (target & VT_ARRAY)) Mismatch(vt(), target);
  if (target == VT_EMPTY) return Variant();
  if (target == VT_NULL) return Null();
  if (vt_ == VT_NULL || vt_ == VT_ERROR) Mismatch(vt_, target);
  if (target == VT_BSTR) return Variant(ToString());
  if (target == VT_BOOL) {
    if (vt_ == VT_BSTR) {
      std::string_view t = Trim(RawString());
      if (EqualsNoCase(t, "true")) return Variant(true);
      if (EqualsNoCase(t, "false")) return Variant(false);
    }
    Num n = ToNum(*this, target);
    bool b = n.kind == Num::Real ? n.d != 0 : n.kind == Num::UInt ? n.u != 0 : n.i != 0;
    return Variant(b);
  }
  Num n = ToNum(*this, target);
  Variant out;
  out.vt_ = target;
  switch (target) {
    case VT_R4: {
      double d = NumToReal(n);
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) Overflow(vt_, target);
      out.n_.d = static_cast<float>(d);
      return out;
    }
    case VT_R8:
      out.n_.d = NumToReal(n);
      return out;
    case VT_DATE: {
      double d = NumToReal(n);
      if (!std::isfinite(d) || d < kMinOleDate || d > kMaxOleDate) Overflow(vt_, target);
      out.n_.d = d;
      return out;
    }
    case VT_CY: {
      double d = NumToReal(n) * 10000.0;
      if (!std::isfinite(d) || std::fabs(d) >= 9.2233720368547758e18) Overflow(vt_, target);
      out.n_.i = static_cast<std::int64_t>(std::nearbyint(d));
      return out;
    }
    default:
      if (!IsIntegerType(target)) Mismatch(vt_, target);
      std::uint64_t u = 0;
      std::int64_t i = NumToInt(n, vt_, target, &u);
      if (target == VT_UI8) out.n_.u = u;
      else out.n_.i = i;
      return out;
  }
}

std::int64_t Variant::ToInt64() const {
  if (vt_ == VT_I8 && !arr_) return n_.i;
  return ChangeType(VT_I8).n_.i;
}

std::int32_t Variant::ToInt32() const {
  if (vt_ == VT_I4 && !arr_) return static_cast<std::int32_t>(n_.i);
  return static_cast<std::int32_t>(ChangeType(VT_I4).n_.i);
}

std::uint32_t Variant::ToUInt32() const {
  return static_cast<std::uint32_t>(ChangeType(VT_UI4).n_.i);
}

bool Variant::ToBool() const {
  if (vt_ == VT_BOOL && !arr_) return n_.i != 0;
  return ChangeType(VT_BOOL).n_.i != 0;
}

double Variant::ToDouble() const {
  if (vt_ == VT_R8 && !arr_) return n_.d;
  return ChangeType(VT_R8).n_.d;
}

double Variant::ToDate() const { return ChangeType(VT_DATE).n_.d; }

std::string Variant::ToString() const {
  if (arr_) Mismatch(vt(), VT_BSTR);
  switch (vt_) {
    case VT_EMPTY: return "";
    case VT_BSTR: return RawString();
    case VT_BOOL: return n_.i ? "True" : "False";
    case VT_R4: return FormatReal(n_.d, 7);
    case VT_R8: return FormatReal(n_.d, 15);
    case VT_CY: return FormatReal(static_cast<double>(n_.i) / 10000.0, 19);
    case VT_DATE: return FormatOleDate(n_.d);
    case VT_UI8: return std::to_string(n_.u);
    default:
      if (IsIntegerType(vt_) && vt_ != VT_ERROR) return std::to_string(n_.i);
      Mismatch(vt_, VT_BSTR);
  }
}

bool Variant::operator==(const Variant& o) const {
  if (vt() != o.vt()) return false;
  if (arr_) return *arr_ == *o.arr_;
  switch (vt_) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_BSTR: return RawString() == o.RawString();
    case VT_R4: case VT_R8: case VT_DATE: return n_.d == o.n_.d;
    default: return n_.i == o.n_.i;
  }
}

std::string Variant::Describe() const {
  if (arr_) {
    std::string s = "ARRAY(" + std::string(VarTypeName(arr_->ElemVt())) + ")";
    for (const ArrayBound& b : arr_->Bounds())
      s += "[" + std::to_string(b.lower) + ".." +
           std::to_string(static_cast<std::int64_t>(b.lower) + b.count - 1) + "]";
    s += "{";
    for (std::size_t k = 0; k < arr_->Size(); ++k) {
      if (k) s += ", ";
      if (k == 64) {
        s += "...";
        break;
      }
      s += arr_->Flat(k).Describe();
    }
    return s + "}";
  }
  std::string name(VarTypeName(vt_));
  switch (vt_) {
    case VT_EMPTY: case VT_NULL: return name;
    case VT_BSTR: return name + " \"" + RawString() + "\"";
    case VT_ERROR: return name + " " + std::to_string(n_.i);
    case VT_DATE: return name + " " + FormatReal(n_.d, 17);
    case VT_R4: return name + " " + FormatReal(n_.d, 9);
    case VT_R8: return name + " " + FormatReal(n_.d, 17);
    default: return name + " " + ToString();
  }
}

void PrintTo(const Variant& v, std::ostream* os) { *os << v.Describe(); }
std::ostream& operator<<(std::ostream& os, const Variant& v) { return os << v.Describe(); }

// SafeArray

SafeArray::SafeArray(VarType elemVt, std::int32_t lower, std::uint32_t count)
    : SafeArray(elemVt, std::vector<ArrayBound>{{lower, count}}) {}

SafeArray::SafeArray(VarType elemVt, std::vector<ArrayBound> bounds)
    : elemVt_(elemVt), bounds_(std::move(bounds)) {
  if (bounds_.empty())
    throw VariantError(VariantErrorKind::BadArray, "An array needs at least one dimension");
  if (elemVt_ != VT_VARIANT && (!IsValidScalarVarType(elemVt_) || elemVt_ == VT_EMPTY ||
                                elemVt_ == VT_NULL))
    throw VariantError(VariantErrorKind::BadArray,
                       "Invalid array element type " + std::to_string(elemVt_));
  std::uint64_t total = 1;
  for (const ArrayBound& b : bounds_) {
    total *= b.count;
    if (static_cast<std::int64_t>(b.lower) + b.count - 1 > INT32_MAX || total > kMaxArrayItems)
      throw VariantError(VariantErrorKind::BadArray, "Array too large");
  }
  Variant zero;
  if (elemVt_ == VT_BSTR) zero = Variant(std::string());
  else if (elemVt_ != VT_VARIANT) zero = Variant(std::int32_t{0}).ChangeType(elemVt_);
  items_.assign(total, zero);
}

SafeArray SafeArray::Of(VarType elemVt, std::vector<Variant> items) {
  SafeArray a(elemVt, 0, static_cast<std::uint32_t>(items.size()));
  for (std::size_t k = 0; k < items.size(); ++k) a.SetFlat(k, std::move(items[k]));
  return a;
}

std::int32_t SafeArray::Lower(int dim) const { return bounds_.at(dim).lower; }
std::uint32_t SafeArray::Count(int dim) const { return bounds_.at(dim).count; }
std::int64_t SafeArray::Upper(int dim) const {
  return static_cast<std::int64_t>(bounds_.at(dim).lower) + bounds_.at(dim).count - 1;
}

std::size_t SafeArray::Offset(std::int64_t i, int dim) const {
  const ArrayBound& b = bounds_[dim];
  std::int64_t k = i - b.lower;
  if (k < 0 || k >= static_cast<std::int64_t>(b.count))
    throw VariantError(VariantErrorKind::BadIndex, "Variant array index out of bounds");
  return static_cast<std::size_t>(k);
}

const Variant& SafeArray::At(std::int64_t i) const {
  if (Dims() != 1) throw VariantError(VariantErrorKind::BadIndex, "Wrong number of array indices");
  return items_[Offset(i, 0)];
}

const Variant& SafeArray::At(std::int64_t i, std::int64_t j) const {
  if (Dims() != 2) throw VariantError(VariantErrorKind::BadIndex, "Wrong number of array indices");
  return items_[Offset(i, 0) * bounds_[1].count + Offset(j, 1)];
}

Variant SafeArray::Fit(Variant v) const {
  if (elemVt_ == VT_VARIANT || v.vt() == elemVt_) return v;
  return v.ChangeType(elemVt_);
}

void SafeArray::Set(std::int64_t i, Variant v) {
  if (Dims() != 1) throw VariantError(VariantErrorKind::BadIndex, "Wrong number of array indices");
  items_[Offset(i, 0)] = Fit(std::move(v));
}

void SafeArray::Set(std::int64_t i, std::int64_t j, Variant v) {
  if (Dims() != 2) throw VariantError(VariantErrorKind::BadIndex, "Wrong number of array indices");
  items_[Offset(i, 0) * bounds_[1].count + Offset(j, 1)] = Fit(std::move(v));
}

void SafeArray::SetFlat(std::size_t k, Variant v) { items_.at(k) = Fit(std::move(v)); }

bool SafeArray::operator==(const SafeArray& o) const {
  if (elemVt_ != o.elemVt_ || bounds_.size() != o.bounds_.size()) return false;
  for (std::size_t k = 0; k < bounds_.size(); ++k)
    if (bounds_[k].lower != o.bounds_[k].lower || bounds_[k].count != o.bounds_[k].count)
      return false;
  return items_ == o.items_;
}

}  // namespace tarvo
