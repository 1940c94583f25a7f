#include "tools/tarvoctl/CtlFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/variant/OleDate.h"
#include "server/core/Definitions.h"
#include "server/core/ReplyArray.h"

namespace tarvo::ctl {

namespace {

// Text differs from JSON only where JSON has no word: Empty, and floats that are no number.
enum class Style { Json, Text };

// JSON escapes quotes, backslashes and control characters; plain text only turns control
// characters into spaces, so a line stays one line.
void AppendEscaped(std::string& out, std::string_view s, Style style = Style::Json) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* b = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t k = 0; k < n;) {
    const unsigned char c = b[k];
    if (c < 0x80 && style == Style::Text) {
      out += c < 0x20 ? ' ' : static_cast<char>(c);
      ++k;
      continue;
    }
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++k;
      continue;
    }
    // A well-formed UTF-8 sequence is copied; any other byte becomes U+FFFD, so the line is
    // always valid UTF-8 whatever a device sent.
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && k + len <= n;
    for (std::size_t j = 1; ok && j < len; ++j) {
      const unsigned char t = b[k + j];
      ok = j == 1 ? t >= lo && t <= hi : t >= 0x80 && t <= 0xBF;
    }
    if (ok) {
      out.append(s.substr(k, len));
      k += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++k;
    }
  }
}

void AppendString(std::string& out, std::string_view s) {
  out += '"';
  AppendEscaped(out, s);
  out += '"';
}

template <typename F>
void AppendReal(std::string& out, F v, Style style) {
  if (!std::isfinite(v)) {
    if (style == Style::Json) out += "null";
    else out += std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf";
    return;
  }
  char buf[64];
  // Shortest text that reads back to the same value of its own width.
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendScalar(std::string& out, const Variant& v, Style style) {
  switch (v.vt()) {
    case VT_EMPTY: out += style == Style::Json ? "null" : "empty"; return;
    case VT_NULL: out += "null"; return;
    case VT_BOOL: out += v.RawInt() ? "true" : "false"; return;
    case VT_R4: AppendReal(out, static_cast<float>(v.RawReal()), style); return;
    case VT_R8: AppendReal(out, v.RawReal(), style); return;
    case VT_CY: AppendReal(out, static_cast<double>(v.RawInt()) / 10000.0, style); return;
    case VT_UI8: out += std::to_string(v.RawUInt()); return;
    case VT_BSTR: AppendString(out, v.RawString()); return;
    case VT_DATE: {
      const double d = v.RawReal();
      if (!std::isfinite(d) || d < kMinOleDate || d > kMaxOleDate) {
        out += "null";
        return;
      }
      const DateTimeParts p = DecodeOleDate(d);
      char buf[48];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second);
      AppendString(out, buf);
      return;
    }
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_INT: case VT_UINT: case VT_ERROR:
      out += std::to_string(v.RawInt());
      return;
    default:
      out += "null";
  }
}

void AppendValue(std::string& out, const Variant& v, Style style);

// Dimension dim of a row-major array from flat index first: nested brackets per dimension.
void AppendDims(std::string& out, const SafeArray& a, int dim, std::size_t first, Style style) {
  std::size_t stride = 1;
  for (int d = dim + 1; d < a.Dims(); ++d) stride *= a.Count(d);
  out += '[';
  for (std::uint32_t k = 0; k < a.Count(dim); ++k) {
    if (k) out += ',';
    const std::size_t at = first + k * stride;
    if (dim + 1 < a.Dims()) AppendDims(out, a, dim + 1, at, style);
    else AppendValue(out, a.Flat(at), style);
  }
  out += ']';
}

void AppendValue(std::string& out, const Variant& v, Style style) {
  if (!v.IsArray()) return AppendScalar(out, v, style);
  const SafeArray& a = v.Array();
  if (a.Size() == 0) {
    out += "[]";
    return;
  }
  AppendDims(out, a, 0, 0, style);
}

struct ReplyHead {
  std::int64_t call = 0, qid = 0, addr = 0, fn = 0, result = 0;
  const Variant* value = nullptr;
};

// What a malformed reply looked like, kept short and on one line.
std::string Shown(const Variant& v) {
  std::string d = v.Describe();
  if (d.size() > 160) d = d.substr(0, 160) + "...";
  std::string out;
  AppendEscaped(out, d, Style::Text);
  return out;
}

// Empty when the reply is readable, else why not.
std::string ReadHead(const Variant& reply, ReplyHead& h) {
  if (!reply.IsArray() || reply.Dims() != 1 || reply.Array().Count() != kReplySize)
    return "expected an array of 6 elements, got " + Shown(reply);
  const SafeArray& a = reply.Array();
  const std::int32_t lo = a.Lower();
  static const char* const kNames[] = {"call type", "qid", "address", "function", "value",
                                       "result"};
  std::int64_t* fields[] = {&h.call, &h.qid, &h.addr, &h.fn, nullptr, &h.result};
  for (int i = 0; i < kReplySize; ++i) {
    if (!fields[i]) continue;
    const Variant& e = a.At(lo + i);
    try {
      if (e.IsArray()) throw VariantError(VariantErrorKind::TypeMismatch, "array");
      *fields[i] = e.ToInt64();
    } catch (const VariantError&) {
      return "element " + std::to_string(i) + " (" + kNames[i] + ") is not an integer: " + Shown(e);
    }
  }
  h.value = &a.At(lo + riValue);
  return "";
}

std::string_view ResultText(std::int64_t result) {
  const std::string_view name =
      result >= 0 && result <= 0x7FFFFFFF ? ResultName(static_cast<std::int32_t>(result)) : "";
  return name.empty() ? "unknown" : name;
}

}  // namespace

std::string_view CallTypeName(std::int64_t call) {
  static constexpr std::string_view kNames[] = {
      "mbExchange",       "mbGetDevName",     "mbReadHoldRegs",  "mbWriteHoldRegs",
      "mbReadInputRegs",  "mbReadHoldCoils",  "mbWriteHoldCoils", "mbReadInputCoils",
      "mbReadTimeArch",   "mbReadIndexArch",  "mbReadStatus",    "mbDiagnostics",
      "mbReadTimeArch2",  "mbCustom",
  };
  if (call < 0 || call >= static_cast<std::int64_t>(std::size(kNames))) return "";
  return kNames[call];
}

std::string ValueJson(const Variant& v) {
  std::string out;
  AppendValue(out, v, Style::Json);
  return out;
}

std::string FormatReplyText(const Variant& reply) {
  ReplyHead h;
  if (const std::string why = ReadHead(reply, h); !why.empty()) return "malformed reply: " + why;
  const std::string_view name = CallTypeName(h.call);
  std::string out = name.empty() ? std::to_string(h.call) : std::string(name);
  out += " qid=" + std::to_string(h.qid) + " addr=" + std::to_string(h.addr) +
         " fn=" + std::to_string(h.fn) + " result=" + std::to_string(h.result) + " " +
         std::string(ResultText(h.result)) + " value=";
  AppendValue(out, *h.value, Style::Text);
  return out;
}

std::string FormatReplyJson(const Variant& reply) {
  ReplyHead h;
  if (const std::string why = ReadHead(reply, h); !why.empty()) {
    std::string out = "{\"error\":";
    AppendString(out, "malformed reply: " + why);
    return out + "}";
  }
  std::string out = "{\"call\":" + std::to_string(h.call) + ",\"qid\":" + std::to_string(h.qid) +
                    ",\"addr\":" + std::to_string(h.addr) + ",\"fn\":" + std::to_string(h.fn) +
                    ",\"result\":" + std::to_string(h.result) + ",\"result_text\":";
  AppendString(out, ResultText(h.result));
  out += ",\"value\":";
  AppendValue(out, *h.value, Style::Json);
  return out + "}";
}

}  // namespace tarvo::ctl
