#include "viewer/model/CustomFormat.h"

#include <algorithm>
#include <string_view>

#include "platform/text/Text.h"

namespace tarvo {
namespace {

constexpr std::size_t kBeforeAt = 5;
constexpr std::size_t kAfterAt = 261;

std::string ReadShortString(std::span<const std::uint8_t, TCustomFormat::kSize> bytes,
                            std::size_t at) {
  const std::size_t len = bytes[at];  // at most 255, always inside its 256-byte field
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data() + at + 1), len));
}

void WriteShortString(std::array<std::uint8_t, TCustomFormat::kSize>& out, std::size_t at,
                      const std::string& utf8, const char* field) {
  const std::string raw = Utf8ToCp1251(utf8);
  if (raw.size() > TCustomFormat::kMaxText)
    throw std::length_error(std::string(field) + " of the custom format is longer than 255 characters");
  out[at] = static_cast<std::uint8_t>(raw.size());
  std::copy(raw.begin(), raw.end(), out.begin() + static_cast<std::ptrdiff_t>(at + 1));
}

}  // namespace

TCustomFormat TCustomFormat::FromBytes(std::span<const std::uint8_t, kSize> bytes) {
  TCustomFormat f;
  f.ShowTitle = bytes[0] != 0;
  f.ShowFieldNames = bytes[1] != 0;
  f.ShowUnits = bytes[2] != 0;
  f.Separator = bytes[3];
  f.CrLf = bytes[4] != 0;
  f.TextBefore = ReadShortString(bytes, kBeforeAt);
  f.TextAfter = ReadShortString(bytes, kAfterAt);
  return f;
}

std::array<std::uint8_t, TCustomFormat::kSize> TCustomFormat::ToBytes() const {
  std::array<std::uint8_t, kSize> out{};
  out[0] = ShowTitle;
  out[1] = ShowFieldNames;
  out[2] = ShowUnits;
  out[3] = Separator;
  out[4] = CrLf;
  WriteShortString(out, kBeforeAt, TextBefore, "Text before a value");
  WriteShortString(out, kAfterAt, TextAfter, "Text after a value");
  return out;
}

}  // namespace tarvo
