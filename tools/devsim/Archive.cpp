#include "tools/devsim/Archive.h"

#include <bit>
#include <stdexcept>

namespace tarvo::devsim {

namespace {

void Put16(std::uint32_t v, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(std::uint32_t v, std::vector<std::uint8_t>& out) {
  Put16(v >> 16, out);
  Put16(v & 0xFFFF, out);
}

}  // namespace

Archive::Archive(std::vector<FieldType> fields, int records, std::int64_t stepSec)
    : fields_(std::move(fields)), records_(records), step_(stepSec) {
  if (fields_.empty() || records_ < 1 || step_ < 1) throw std::invalid_argument("empty archive");
}

std::optional<FieldType> Archive::ParseField(const std::string& name) {
  if (name == "u32time") return FieldType::kU32Time;
  if (name == "u16") return FieldType::kU16;
  if (name == "i16") return FieldType::kI16;
  if (name == "u32") return FieldType::kU32;
  if (name == "i32") return FieldType::kI32;
  if (name == "f32") return FieldType::kF32;
  return std::nullopt;
}

int Archive::RecordSize() const {
  int size = 0;
  for (FieldType f : fields_) size += (f == FieldType::kU16 || f == FieldType::kI16) ? 2 : 4;
  return size;
}

std::int64_t Archive::RecordTime(int index, std::int64_t now) const {
  // Aligned to the step in UTC, so a daily archive's records fall on midnight.
  std::int64_t newest = now - ((now % step_) + step_) % step_;
  return newest - static_cast<std::int64_t>(records_ - 1 - index) * step_;
}

std::optional<int> Archive::FirstAtOrAfter(std::int64_t t, std::int64_t now) const {
  std::int64_t oldest = RecordTime(0, now);
  if (t <= oldest) return 0;
  std::int64_t index = (t - oldest + step_ - 1) / step_;
  if (index >= records_) return std::nullopt;
  return static_cast<int>(index);
}

void Archive::AppendRecord(int index, std::int64_t now, std::vector<std::uint8_t>& out) const {
  std::int64_t time = RecordTime(index, now);
  // The sequence number is the record's own, not its index, so values move with their record.
  std::int64_t seq = time / step_;
  int k = 0;
  for (FieldType f : fields_) {
    std::int64_t v = seq + 1000 * k;
    switch (f) {
      case FieldType::kU32Time: Put32(static_cast<std::uint32_t>(time), out); break;
      case FieldType::kU16: Put16(static_cast<std::uint32_t>(v & 0xFFFF), out); break;
      case FieldType::kI16: Put16(static_cast<std::uint32_t>(-(v % 30000)) & 0xFFFF, out); break;
      case FieldType::kU32: Put32(static_cast<std::uint32_t>(v), out); break;
      case FieldType::kI32: Put32(static_cast<std::uint32_t>(-v), out); break;
      case FieldType::kF32:
        Put32(std::bit_cast<std::uint32_t>(static_cast<float>(v % 100000) + 0.5f), out);
        break;
    }
    ++k;
  }
}

}  // namespace tarvo::devsim
