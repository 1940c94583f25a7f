#include "platform/automation/Wire.h"

#include <sdbus-c++/Types.h>

#include <cstring>

namespace tarvo::automation {

namespace {

// D-Bus type of a scalar that travels untagged, or 0.
char PlainCode(VarType vt) {
  switch (vt) {
    case VT_UI1: return 'y';
    case VT_BOOL: return 'b';
    case VT_I2: return 'n';
    case VT_UI2: return 'q';
    case VT_I4: return 'i';
    case VT_UI4: return 'u';
    case VT_I8: return 'x';
    case VT_UI8: return 't';
    case VT_R8: return 'd';
    case VT_BSTR: return 's';
    default: return 0;
  }
}

bool IsPlainSig(char c) { return std::strchr("ybnqiuxtds", c) != nullptr && c != 0; }

bool ValidUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c == 0) return false;  // D-Bus strings cannot hold NUL
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

// A Variant that travels untagged: a plain scalar (strings only when D-Bus can carry them) or a
// one-dimensional array from 0 of Variants or of one plain type.
bool Untagged(const Variant& v) {
  if (!v.IsArray()) {
    if (v.vt() == VT_BSTR) return ValidUtf8(v.RawString());
    return PlainCode(v.vt()) != 0;
  }
  const SafeArray& a = v.Array();
  if (a.Dims() != 1 || a.Lower() != 0) return false;
  if (a.ElemVt() == VT_VARIANT) return true;
  if (PlainCode(a.ElemVt()) == 0) return false;
  if (a.ElemVt() == VT_BSTR)
    for (const Variant& s : a.Items())
      if (!ValidUtf8(s.RawString())) return false;
  return true;
}

const char* TagOf(VarType vt) {
  switch (vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I1: return "I1";
    case VT_R4: return "R4";
    case VT_DATE: return "DATE";
    case VT_CY: return "CY";
    case VT_ERROR: return "ERROR";
    case VT_INT: return "INT";
    case VT_UINT: return "UINT";
    case VT_BSTR: return "BSTR";  // a string that is not valid UTF-8: its bytes
    default: return nullptr;
  }
}

void WritePlain(sdbus::Message& msg, const Variant& v) {
  switch (v.vt()) {
    case VT_UI1: msg << static_cast<std::uint8_t>(v.RawInt()); break;
    case VT_BOOL: msg << (v.RawInt() != 0); break;
    case VT_I2: msg << static_cast<std::int16_t>(v.RawInt()); break;
    case VT_UI2: msg << static_cast<std::uint16_t>(v.RawInt()); break;
    case VT_I4: msg << static_cast<std::int32_t>(v.RawInt()); break;
    case VT_UI4: msg << static_cast<std::uint32_t>(v.RawInt()); break;
    case VT_I8: msg << static_cast<std::int64_t>(v.RawInt()); break;
    case VT_UI8: msg << static_cast<std::uint64_t>(v.RawUInt()); break;
    case VT_R8: msg << v.RawReal(); break;
    case VT_BSTR: msg << v.RawString(); break;
    default: throw WireError("not a plain value: " + v.Describe());
  }
}

void WriteValue(sdbus::Message& msg, const Variant& v);

void WriteTagged(sdbus::Message& msg, const Variant& v) {
  msg.openStruct("sv");
  if (v.IsArray()) {
    const SafeArray& a = v.Array();
    msg << std::string("ARRAY");
    msg.openVariant("(qa(ii)av)");
    msg.openStruct("qa(ii)av");
    msg << static_cast<std::uint16_t>(a.ElemVt());
    msg.openContainer("(ii)");
    for (const ArrayBound& b : a.Bounds()) {
      msg.openStruct("ii");
      msg << b.lower << static_cast<std::int32_t>(b.count);
      msg.closeStruct();
    }
    msg.closeContainer();
    msg.openContainer("v");
    for (const Variant& item : a.Items()) WriteValue(msg, item);
    msg.closeContainer();
    msg.closeStruct();
    msg.closeVariant();
  } else {
    const char* tag = TagOf(v.vt());
    if (!tag) throw WireError("no wire form for " + v.Describe());
    msg << std::string(tag);
    switch (v.vt()) {
      case VT_EMPTY:
      case VT_NULL: msg.openVariant("y"); msg << std::uint8_t{0}; break;
      case VT_I1: msg.openVariant("n"); msg << static_cast<std::int16_t>(v.RawInt()); break;
      case VT_R4:
      case VT_DATE: msg.openVariant("d"); msg << v.RawReal(); break;
      case VT_CY: msg.openVariant("x"); msg << static_cast<std::int64_t>(v.RawInt()); break;
      case VT_ERROR:
      case VT_INT: msg.openVariant("i"); msg << static_cast<std::int32_t>(v.RawInt()); break;
      case VT_UINT: msg.openVariant("u"); msg << static_cast<std::uint32_t>(v.RawInt()); break;
      case VT_BSTR: {
        msg.openVariant("ay");
        const std::string& s = v.RawString();
        msg.openContainer("y");
        for (char c : s) msg << static_cast<std::uint8_t>(c);
        msg.closeContainer();
        break;
      }
      default: break;
    }
    msg.closeVariant();
  }
  msg.closeStruct();
}

// Writes the value itself, wrapped in its "v".
void WriteValue(sdbus::Message& msg, const Variant& v) {
  const std::string sig = WireSignature(v);
  msg.openVariant(sig);
  if (!Untagged(v)) {
    WriteTagged(msg, v);
  } else if (!v.IsArray()) {
    WritePlain(msg, v);
  } else {
    const SafeArray& a = v.Array();
    msg.openContainer(sig.substr(1));
    for (const Variant& item : a.Items()) {
      if (a.ElemVt() == VT_VARIANT) WriteValue(msg, item);
      else WritePlain(msg, item);
    }
    msg.closeContainer();
  }
  msg.closeVariant();
}

struct Reader {
  sdbus::Message& msg;
  std::size_t items = 0;

  void Count(std::size_t n = 1) {
    items += n;
    if (items > kMaxWireItems) throw WireError("too many values in one message");
  }

  template <class T>
  T Basic() {
    T x{};
    msg >> x;
    if (!msg) throw WireError("truncated value");
    return x;
  }

  Variant Plain(char c) {
    switch (c) {
      case 'y': return Variant(Basic<std::uint8_t>());
      case 'b': return Variant(Basic<bool>());
      case 'n': return Variant(Basic<std::int16_t>());
      case 'q': return Variant(Basic<std::uint16_t>());
      case 'i': return Variant(Basic<std::int32_t>());
      case 'u': return Variant(Basic<std::uint32_t>());
      case 'x': return Variant(Basic<std::int64_t>());
      case 't': return Variant(Basic<std::uint64_t>());
      case 'd': return Variant(Basic<double>());
      case 's': return Variant(Basic<std::string>());
      default: throw WireError(std::string("D-Bus type '") + c + "' is not part of the Variant profile");
    }
  }

  static VarType VtOfPlain(char c) {
    switch (c) {
      case 'y': return VT_UI1;
      case 'b': return VT_BOOL;
      case 'n': return VT_I2;
      case 'q': return VT_UI2;
      case 'i': return VT_I4;
      case 'u': return VT_UI4;
      case 'x': return VT_I8;
      case 't': return VT_UI8;
      case 'd': return VT_R8;
      default: return VT_BSTR;
    }
  }

  // True when another element follows inside the current container.
  bool More() {
    std::string type, contents;
    msg.peekType(type, contents);
    return !type.empty() && type[0] != '\0';
  }

  std::string PeekContents() {
    std::string type, contents;
    msg.peekType(type, contents);
    if (type.empty() || type[0] != 'v') throw WireError("a Variant was expected");
    return contents;
  }

  // depth counts arrays inside arrays, the nesting of the Variant itself, so that a value
  // reads the same however it was wrapped; D-Bus bounds its own containers.
  Variant InVariant(int depth) {
    if (depth > kMaxWireDepth) throw WireError("Variant nested too deeply");
    const std::string inner = PeekContents();
    if (!msg.enterVariant(inner)) throw WireError("truncated Variant");
    Variant v = Value(inner, depth);
    msg.exitVariant();
    return v;
  }

  Variant Value(const std::string& sig, int depth) {
    if (depth > kMaxWireDepth) throw WireError("Variant nested too deeply");
    Count();
    if (sig.size() == 1 && IsPlainSig(sig[0])) return Plain(sig[0]);
    if (sig == "v") return InVariant(depth);
    if (sig == "(sv)") return Tagged(depth);
    if (sig.size() >= 2 && sig[0] == 'a') {
      const std::string elem = sig.substr(1);
      const bool plain = elem.size() == 1 && IsPlainSig(elem[0]);
      if (!plain && elem != "v" && elem != "(sv)" && elem[0] != 'a')
        throw WireError("D-Bus type '" + sig + "' is not part of the Variant profile");
      if (!msg.enterContainer(elem)) throw WireError("truncated array");
      std::vector<Variant> items;
      while (More()) items.push_back(plain ? (Count(), Plain(elem[0])) : Value(elem, depth + 1));
      msg.exitContainer();
      const VarType vt = plain ? VtOfPlain(elem[0]) : VT_VARIANT;
      try {
        return Variant(SafeArray::Of(vt, std::move(items)));
      } catch (const VariantError& e) {
        throw WireError(std::string("array refused: ") + e.what());
      }
    }
    throw WireError("D-Bus type '" + sig + "' is not part of the Variant profile");
  }

  Variant Convert(const Variant& payload, VarType vt, const std::string& tag) {
    try {
      return payload.ChangeType(vt);
    } catch (const VariantError& e) {
      throw WireError("tag " + tag + ": " + e.what());
    }
  }

  Variant Tagged(int depth) {
    if (!msg.enterStruct("sv")) throw WireError("truncated tagged value");
    const std::string tag = Basic<std::string>();
    Variant v;
    if (tag == "ARRAY") {
      if (PeekContents() != "(qa(ii)av)") throw WireError("tag ARRAY needs a (qa(ii)av) payload");
      msg.enterVariant("(qa(ii)av)");
      msg.enterStruct("qa(ii)av");
      const VarType elemVt = Basic<std::uint16_t>();
      if (elemVt != VT_VARIANT && !IsValidScalarVarType(elemVt))
        throw WireError("tag ARRAY: bad element type " + std::to_string(elemVt));
      std::vector<ArrayBound> bounds;
      msg.enterContainer("(ii)");
      while (More()) {
        if (bounds.size() >= 8) throw WireError("tag ARRAY: too many dimensions");
        msg.enterStruct("ii");
        const std::int32_t lower = Basic<std::int32_t>();
        const std::int32_t count = Basic<std::int32_t>();
        msg.exitStruct();
        if (count < 0) throw WireError("tag ARRAY: negative count");
        bounds.push_back({lower, static_cast<std::uint32_t>(count)});
      }
      msg.exitContainer();
      if (bounds.empty()) throw WireError("tag ARRAY: no dimensions");
      std::uint64_t total = 1;
      for (const ArrayBound& b : bounds) {
        total *= b.count;
        if (total > kMaxWireItems) throw WireError("tag ARRAY: too many elements");
      }
      std::vector<Variant> items;
      msg.enterContainer("v");
      while (More()) {
        if (items.size() >= total) throw WireError("tag ARRAY: more elements than its bounds");
        items.push_back(InVariant(depth + 1));
      }
      msg.exitContainer();
      msg.exitStruct();
      msg.exitVariant();
      if (items.size() != total) throw WireError("tag ARRAY: fewer elements than its bounds");
      try {
        SafeArray a(elemVt, std::move(bounds));
        for (std::size_t k = 0; k < items.size(); ++k)
          a.SetFlat(k, elemVt == VT_VARIANT ? std::move(items[k]) : items[k].ChangeType(elemVt));
        v = Variant(std::move(a));
      } catch (const VariantError& e) {
        throw WireError(std::string("tag ARRAY: ") + e.what());
      }
    } else {
      const Variant payload = InVariant(depth);
      if (tag == "EMPTY") v = Variant();
      else if (tag == "NULL") v = Variant::Null();
      else if (tag == "I1") v = Convert(payload, VT_I1, tag);
      else if (tag == "R4") v = Convert(payload, VT_R4, tag);
      else if (tag == "DATE") v = Variant::Date(Convert(payload, VT_R8, tag).RawReal());
      else if (tag == "CY") v = Variant::Currency(Convert(payload, VT_I8, tag).RawInt());
      else if (tag == "ERROR") v = Variant::Error(Convert(payload, VT_I4, tag).ToInt32());
      else if (tag == "INT") v = Variant::Int(Convert(payload, VT_I4, tag).ToInt32());
      else if (tag == "UINT") v = Variant::UInt(Convert(payload, VT_UI4, tag).ToUInt32());
      else if (tag == "BSTR") {
        if (!payload.IsArray() || payload.Array().ElemVt() != VT_UI1 || payload.Dims() != 1)
          throw WireError("tag BSTR needs an array of bytes");
        std::string s;
        for (const Variant& b : payload.Array().Items()) s.push_back(static_cast<char>(b.RawInt()));
        v = Variant(std::move(s));
      } else {
        throw WireError("unknown Variant tag \"" + tag + "\"");
      }
    }
    msg.exitStruct();
    return v;
  }
};

}  // namespace

std::string WireSignature(const Variant& v) {
  if (!Untagged(v)) return "(sv)";
  if (!v.IsArray()) return std::string(1, PlainCode(v.vt()));
  const VarType e = v.Array().ElemVt();
  return e == VT_VARIANT ? "av" : std::string("a") + PlainCode(e);
}

void WriteVariant(sdbus::Message& msg, const Variant& v) { WriteValue(msg, v); }

Variant ReadVariant(sdbus::Message& msg) {
  Reader r{msg};
  return r.Value("v", 0);
}

Variant ReadWireValue(sdbus::Message& msg, const std::string& sig) {
  if (sig == "o") {  // an object path argument; never inside a Variant
    sdbus::ObjectPath p;
    msg >> p;
    if (!msg) throw WireError("truncated value");
    return Variant(std::string(p));
  }
  Reader r{msg};
  return r.Value(sig, 0);
}

void WriteTyped(sdbus::Message& msg, char sig, const Variant& v) {
  switch (sig) {
    case 'v': WriteVariant(msg, v); break;
    case 'i': msg << v.ToInt32(); break;
    case 'u': msg << v.ToUInt32(); break;
    case 'b': msg << v.ToBool(); break;
    case 's': msg << v.ToString(); break;
    case 'o': msg << sdbus::ObjectPath(v.ToString()); break;
    default: throw WireError(std::string("unsupported argument type '") + sig + "'");
  }
}

}  // namespace tarvo::automation
