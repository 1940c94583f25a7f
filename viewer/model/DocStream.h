#pragma once
// TDocStream: the binary primitives every stored viewer file is written in, over one stream's bytes.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/variant/Variant.h"

namespace tarvo {

class Storage;

// A stream that ends early, holds an impossible length, or cannot be written.
class EDocStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A Variant type the stream layout has no code for.
class EDocStreamUnknownVarType : public EDocStreamError {
 public:
  using EDocStreamError::EDocStreamError;
};

// A font as stored: the style byte has bit 0 bold, 1 italic, 2 underline, 3 strike-out.
struct TDocFont {
  std::string Name;         // UTF-8
  std::int32_t Color = 0;   // the platform colour value as stored
  std::int32_t Size = 0;    // points
  std::uint8_t Style = 0;
  bool operator==(const TDocFont&) const = default;
};

// Reads and writes little-endian numbers, 1251 strings and Variants at a position in a byte
// buffer. Reading never goes past the end and refuses lengths the remaining bytes cannot hold,
// so a damaged or hostile file gives EDocStreamError, never a huge allocation.
class TDocStream {
 public:
  static constexpr std::size_t kMaxStringBytes = 16u << 20;
  static constexpr std::uint32_t kMaxArrayItems = 1u << 20;  // what a SafeArray may hold
  static constexpr int kMaxVariantDepth = 16;                // arrays of arrays of ...

  // A stream over bytes already read (or none, to write into); storage is the storage that holds
  // the stream, used for sub-storages, or null.
  explicit TDocStream(std::string bytes = {}, Storage* storage = nullptr);

  // The named stream of a storage, to read; the storage stays the containing one.
  static TDocStream OpenStream(Storage& storage, std::string_view name);
  // Stores what was written as the named stream (created or replaced).
  void SaveTo(Storage& storage, std::string_view name) const;

  const std::string& Bytes() const { return bytes_; }
  std::size_t Position() const { return pos_; }
  std::size_t Size() const { return bytes_.size(); }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  void Seek(std::size_t pos);

  // Plain bytes at the position; a write past the end extends the stream.
  void Read(void* dst, std::size_t n);
  void Write(const void* src, std::size_t n);

  std::uint8_t ReadByte();
  bool ReadBoolean();  // any non-zero byte is true
  std::int32_t ReadInteger();
  float ReadSingle();
  double ReadDouble();  // also date-times
  std::int64_t Read64();
  std::string ReadString();  // 1251 on disk, UTF-8 returned
  TDocFont ReadFont();
  Variant ReadVariant();

  void WriteByte(std::uint8_t v);
  void WriteBoolean(bool v);
  void WriteInteger(std::int32_t v);
  void WriteSingle(float v);
  void WriteDouble(double v);
  void Write64(std::int64_t v);
  void WriteString(std::string_view utf8);
  void WriteFont(const TDocFont& f);
  void WriteVariant(const Variant& v);

  // Sub-storages of the containing storage; null when the stream has none.
  Storage* CreateSubStorage(std::string_view name);
  Storage* OpenSubStorage(std::string_view name);

 private:
  Variant ReadVariantAt(int depth);
  Variant ReadArray(int dims, int depth);
  void WriteVariantAt(const Variant& v, int depth);
  // Refuses count items of at least minBytes each that the rest of the stream cannot hold.
  void CheckCount(std::int64_t count, std::size_t minBytes, const char* what) const;

  std::string bytes_;
  std::size_t pos_ = 0;
  Storage* storage_ = nullptr;
};

}  // namespace tarvo
