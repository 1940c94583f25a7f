// Fuzzes the Variant reader with every D-Bus value a peer can send: the bytes choose a value of
// any D-Bus type (plain types, variants, arrays, structs, dictionaries, tagged Variants with good
// and bad tags and payloads, deep nesting), which is written into a message and read back as a
// Variant. The reader must refuse or accept, never crash or hang, and what it accepts must
// travel again and come back equal.

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/Types.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/automation/Wire.h"

namespace sdbus {
// Exported by the library for its own Variant type; a message without a bus.
PlainMessage createPlainMessage();
}  // namespace sdbus

namespace {

struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t Next() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  std::uint32_t Next32() { return Next() | Next() << 8 | Next() << 16 | std::uint32_t(Next()) << 24; }
};

const char* const kTags[] = {"EMPTY", "NULL", "I1", "R4", "DATE", "CY", "ERROR",
                             "INT", "UINT", "BSTR", "ARRAY", "", "x"};

// The signature of a random complete type.
std::string Sig(Bytes& b, int depth) {
  const std::uint8_t k = b.Next() % (depth > 40 ? 12 : 18);
  static const char plain[] = "ybnqiuxtdsog";
  if (k < 12) return std::string(1, plain[k]);
  switch (k) {
    case 12: return "v";
    case 13: return "a" + Sig(b, depth + 1);
    case 14: return "(sv)";
    case 15: return "(qa(ii)av)";
    case 16: return "a{s" + Sig(b, depth + 1) + "}";
    default: return "(" + Sig(b, depth + 1) + Sig(b, depth + 1) + ")";
  }
}

std::size_t Complete(const std::string& s, std::size_t i);  // end of the type at i

std::size_t Complete(const std::string& s, std::size_t i) {
  if (s[i] == 'a') return Complete(s, i + 1);
  if (s[i] == '(' || s[i] == '{') {
    const char close = s[i] == '(' ? ')' : '}';
    std::size_t j = i + 1;
    while (s[j] != close) j = Complete(s, j) + 1;
    return j;
  }
  return i;
}

void Value(sdbus::Message& m, Bytes& b, const std::string& sig, int depth);

void Content(sdbus::Message& m, Bytes& b, const std::string& sig, int depth) {
  for (std::size_t i = 0; i < sig.size();) {
    const std::size_t e = Complete(sig, i);
    Value(m, b, sig.substr(i, e - i + 1), depth);
    i = e + 1;
  }
}

void Value(sdbus::Message& m, Bytes& b, const std::string& sig, int depth) {
  switch (sig[0]) {
    case 'y': m << b.Next(); break;
    case 'b': m << bool(b.Next() & 1); break;
    case 'n': m << std::int16_t(b.Next32()); break;
    case 'q': m << std::uint16_t(b.Next32()); break;
    case 'i': m << std::int32_t(b.Next32()); break;
    case 'u': m << b.Next32(); break;
    case 'x': m << (std::int64_t(b.Next32()) << 32 | b.Next32()); break;
    case 't': m << (std::uint64_t(b.Next32()) << 32 | b.Next32()); break;
    case 'd': {
      const std::uint64_t bits = std::uint64_t(b.Next32()) << 32 | b.Next32();
      double d;
      static_assert(sizeof d == sizeof bits);
      __builtin_memcpy(&d, &bits, sizeof d);
      m << d;
      break;
    }
    case 's': {
      const std::uint8_t k = b.Next();
      std::string s = (k & 1) ? std::string(kTags[(k >> 1) % 13]) : std::string(k % 8, 'a' + k % 26);
      m << s;
      break;
    }
    case 'o': m << sdbus::ObjectPath("/a"); break;
    case 'g': m << sdbus::Signature("i"); break;
    case 'v': {
      const std::string inner = Sig(b, depth + 1);
      m.openVariant(inner);
      Value(m, b, inner, depth + 1);
      m.closeVariant();
      break;
    }
    case 'a': {
      const std::string elem = sig.substr(1);
      m.openContainer(elem);
      const int n = b.Next() % 6;
      for (int k = 0; k < n && b.n; ++k) {
        if (elem[0] == '{') {
          m.openDictEntry(elem.substr(1, elem.size() - 2));
          Content(m, b, elem.substr(1, elem.size() - 2), depth + 1);
          m.closeDictEntry();
        } else {
          Value(m, b, elem, depth + 1);
        }
      }
      m.closeContainer();
      break;
    }
    case '(': {
      const std::string inner = sig.substr(1, sig.size() - 2);
      m.openStruct(inner);
      Content(m, b, inner, depth + 1);
      m.closeStruct();
      break;
    }
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes b{data, size};
  sdbus::PlainMessage msg = sdbus::createPlainMessage();
  try {
    // Always a "v" first, as every Variant argument is.
    const std::string inner = Sig(b, 0);
    msg.openVariant(inner);
    Value(msg, b, inner, 0);
    msg.closeVariant();
    msg.seal();
  } catch (const sdbus::Error&) {
    return 0;  // not a value D-Bus can carry (nesting beyond its limits)
  }
  msg.rewind(true);
  tarvo::Variant v;
  try {
    v = tarvo::automation::ReadVariant(msg);
  } catch (const tarvo::automation::WireError&) {
    return 0;
  } catch (const sdbus::Error&) {
    return 0;
  }
  // Accepted: it must travel again and come back the same.
  sdbus::PlainMessage again = sdbus::createPlainMessage();
  tarvo::automation::WriteVariant(again, v);
  again.seal();
  again.rewind(true);
  const tarvo::Variant back = tarvo::automation::ReadVariant(again);
  // NaN is unequal to itself, so values holding one are compared by their description.
  if (back.vt() != v.vt() || (!(back == v) && back.Describe() != v.Describe())) std::abort();
  return 0;
}
