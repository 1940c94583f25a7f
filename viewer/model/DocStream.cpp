#include "viewer/model/DocStream.h"

#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/storage/Storage.h"
#include "platform/text/Text.h"

namespace tarvo {
namespace {

// Smallest stored Variant: the dimension count and the type code of an empty value.
constexpr std::size_t kMinVariantBytes = 8;

template <typename T>
T FromLittle(T v) {
  if constexpr (std::endian::native == std::endian::big) {
    unsigned char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
    std::memcpy(&v, b, sizeof(T));
  }
  return v;
}

}  // namespace

TDocStream::TDocStream(std::string bytes, Storage* storage)
    : bytes_(std::move(bytes)), storage_(storage) {}

TDocStream TDocStream::OpenStream(Storage& storage, std::string_view name) {
  return TDocStream(storage.ReadStream(name), &storage);
}

void TDocStream::SaveTo(Storage& storage, std::string_view name) const {
  storage.WriteStream(name, std::string_view(bytes_));
}

void TDocStream::Seek(std::size_t pos) {
  if (pos > bytes_.size()) throw EDocStreamError("Stream seek past the end");
  pos_ = pos;
}

void TDocStream::Read(void* dst, std::size_t n) {
  if (n > Remaining()) throw EDocStreamError("Stream read error");
  if (n != 0) std::memcpy(dst, bytes_.data() + pos_, n);
  pos_ += n;
}

void TDocStream::Write(const void* src, std::size_t n) {
  if (n == 0) return;
  if (pos_ + n > bytes_.size()) bytes_.resize(pos_ + n);
  std::memcpy(bytes_.data() + pos_, src, n);
  pos_ += n;
}

void TDocStream::CheckCount(std::int64_t count, std::size_t minBytes, const char* what) const {
  if (count < 0 || static_cast<std::uint64_t>(count) > Remaining() / minBytes)
    throw EDocStreamError("Stream read error: " + std::string(what) + " " + std::to_string(count) +
                          " does not fit in the " + std::to_string(Remaining()) +
                          " bytes left");
}

std::uint8_t TDocStream::ReadByte() {
  std::uint8_t v;
  Read(&v, 1);
  return v;
}

bool TDocStream::ReadBoolean() { return ReadByte() != 0; }

std::int32_t TDocStream::ReadInteger() {
  std::int32_t v;
  Read(&v, 4);
  return FromLittle(v);
}

float TDocStream::ReadSingle() {
  std::uint32_t u;
  Read(&u, 4);
  return std::bit_cast<float>(FromLittle(u));
}

double TDocStream::ReadDouble() {
  std::uint64_t u;
  Read(&u, 8);
  return std::bit_cast<double>(FromLittle(u));
}

std::int64_t TDocStream::Read64() {
  std::int64_t v;
  Read(&v, 8);
  return FromLittle(v);
}

std::string TDocStream::ReadString() {
  const std::int32_t len = ReadInteger();
  CheckCount(len, 1, "string length");
  if (static_cast<std::size_t>(len) > kMaxStringBytes)
    throw EDocStreamError("Stream read error: string length " + std::to_string(len) +
                          " is too long");
  std::string raw(bytes_.data() + pos_, static_cast<std::size_t>(len));
  pos_ += static_cast<std::size_t>(len);
  return Cp1251ToUtf8(raw);
}

TDocFont TDocStream::ReadFont() {
  TDocFont f;
  f.Name = ReadString();
  f.Color = ReadInteger();
  f.Size = ReadInteger();
  f.Style = ReadByte();
  return f;
}

Variant TDocStream::ReadVariant() { return ReadVariantAt(0); }

Variant TDocStream::ReadVariantAt(int depth) {
  const std::int32_t dims = ReadInteger();
  if (dims == 1 || dims == 2) return ReadArray(dims, depth);
  if (dims != 0)
    throw EDocStreamError("Unknown dimension count " + std::to_string(dims) +
                          " in TDocStream.ReadVariant");
  const std::int32_t vt = ReadInteger();
  switch (vt) {
    case VT_EMPTY: return Variant();
    case VT_I2: {
      std::int16_t v;
      Read(&v, 2);
      return Variant(FromLittle(v));
    }
    case VT_I4: return Variant(ReadInteger());
    case VT_R4: return Variant(ReadSingle());
    case VT_R8: return Variant(ReadDouble());
    case VT_BOOL: return Variant(ReadByte() == 1);
    case VT_I1: return Variant(static_cast<std::int8_t>(ReadByte()));
    case VT_UI1: return Variant(ReadByte());
    case VT_UI2: {
      std::uint16_t v;
      Read(&v, 2);
      return Variant(FromLittle(v));
    }
    case VT_UI4: return Variant(static_cast<std::uint32_t>(ReadInteger()));
    case VT_I8: return Variant(Read64());
    default: throw EDocStreamUnknownVarType("Unknown VarType in TDocStream.ReadVariant");
  }
}

Variant TDocStream::ReadArray(int dims, int depth) {
  if (depth >= kMaxVariantDepth)
    throw EDocStreamError("Stream read error: arrays nested too deep");
  std::vector<ArrayBound> bounds;
  std::int64_t total = 1;
  for (int d = 0; d < dims; ++d) {
    const std::int64_t count = static_cast<std::int64_t>(ReadInteger()) + 1;
    CheckCount(count, 1, "array length");
    total *= count;
    bounds.push_back({0, static_cast<std::uint32_t>(count)});
  }
  if (total > kMaxArrayItems)
    throw EDocStreamError("Stream read error: an array of " + std::to_string(total) +
                          " elements is too large");
  CheckCount(total, kMinVariantBytes, "array length");
  // Elements are collected before the array is made, so memory grows with what was really read.
  std::vector<Variant> items;
  for (std::int64_t k = 0; k < total; ++k) items.push_back(ReadVariantAt(depth + 1));
  SafeArray a(VT_VARIANT, std::move(bounds));
  for (std::size_t k = 0; k < items.size(); ++k) a.SetFlat(k, std::move(items[k]));
  return Variant(std::move(a));
}

void TDocStream::WriteByte(std::uint8_t v) { Write(&v, 1); }

void TDocStream::WriteBoolean(bool v) { WriteByte(v ? 1 : 0); }

void TDocStream::WriteInteger(std::int32_t v) {
  v = FromLittle(v);
  Write(&v, 4);
}

void TDocStream::WriteSingle(float v) {
  const std::uint32_t u = FromLittle(std::bit_cast<std::uint32_t>(v));
  Write(&u, 4);
}

void TDocStream::WriteDouble(double v) {
  const std::uint64_t u = FromLittle(std::bit_cast<std::uint64_t>(v));
  Write(&u, 8);
}

void TDocStream::Write64(std::int64_t v) {
  v = FromLittle(v);
  Write(&v, 8);
}

void TDocStream::WriteString(std::string_view utf8) {
  const std::string raw = Utf8ToCp1251(utf8);
  // What is written must read back, so the reader's limit holds here too.
  if (raw.size() > kMaxStringBytes)
    throw EDocStreamError("String of " + std::to_string(raw.size()) +
                          " bytes is too long for TDocStream.WriteString");
  WriteInteger(static_cast<std::int32_t>(raw.size()));
  Write(raw.data(), raw.size());
}

void TDocStream::WriteFont(const TDocFont& f) {
  WriteString(f.Name);
  WriteInteger(f.Color);
  WriteInteger(f.Size);
  WriteByte(f.Style);
}

void TDocStream::WriteVariant(const Variant& v) { WriteVariantAt(v, 0); }

void TDocStream::WriteVariantAt(const Variant& v, int depth) {
  if (v.IsArray()) {
    const SafeArray& a = v.Array();
    if (a.Dims() > 2)
      throw EDocStreamError("Array of " + std::to_string(a.Dims()) +
                            " dimensions in TDocStream.WriteVariant");
    if (depth >= kMaxVariantDepth)
      throw EDocStreamError("Arrays nested too deep in TDocStream.WriteVariant");
    // Elements go out from index 0 whatever the lower bound, so none is lost; the layout has
    // no room for a lower bound and reads back with 0.
    WriteInteger(a.Dims());
    for (int d = 0; d < a.Dims(); ++d) WriteInteger(static_cast<std::int32_t>(a.Count(d)) - 1);
    for (const Variant& item : a.Items()) WriteVariantAt(item, depth + 1);
    return;
  }
  const VarType vt = v.vt();
  switch (vt) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8: break;
    default:
      throw EDocStreamUnknownVarType("Unknown VarType" + std::to_string(vt) +
                                     "in TDocStream.WriteVariant");
  }
  WriteInteger(0);
  WriteInteger(vt);
  switch (vt) {
    case VT_I2:
    case VT_UI2: {
      const std::uint16_t u = FromLittle(static_cast<std::uint16_t>(v.RawInt()));
      Write(&u, 2);
      break;
    }
    case VT_I4:
    case VT_UI4: WriteInteger(static_cast<std::int32_t>(static_cast<std::uint32_t>(v.RawInt()))); break;
    case VT_R4: WriteSingle(static_cast<float>(v.RawReal())); break;
    case VT_R8: WriteDouble(v.RawReal()); break;
    case VT_BOOL: WriteByte(v.RawInt() != 0 ? 1 : 0); break;
    case VT_I1:
    case VT_UI1: WriteByte(static_cast<std::uint8_t>(v.RawInt())); break;
    case VT_I8: Write64(v.RawInt()); break;
    default: break;
  }
}

Storage* TDocStream::CreateSubStorage(std::string_view name) {
  return storage_ ? &storage_->CreateStorage(name) : nullptr;
}

Storage* TDocStream::OpenSubStorage(std::string_view name) {
  return storage_ ? &storage_->OpenStorage(name) : nullptr;
}

}  // namespace tarvo
