#pragma once
// A simulated archive: records at a fixed step ending at the current time, values derived from
// each record's time so that repeated reads of the same record agree.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::devsim {

enum class FieldType { kU32Time, kU16, kI16, kU32, kI32, kF32 };

// The record layout and extent of one archive, and the bytes of its records at a given time.
class Archive {
 public:
  Archive(std::vector<FieldType> fields, int records, std::int64_t stepSec);

  // Name of a field type as written in a map file ("u32time", "u16", ...); nullopt if unknown.
  static std::optional<FieldType> ParseField(const std::string& name);

  int RecordSize() const;
  int Records() const { return records_; }
  std::int64_t Step() const { return step_; }
  const std::vector<FieldType>& Fields() const { return fields_; }

  // Unix time of record index (0 is the oldest) when the clock reads now.
  std::int64_t RecordTime(int index, std::int64_t now) const;
  // Index of the first record at or after t; nullopt when every record is older.
  std::optional<int> FirstAtOrAfter(std::int64_t t, std::int64_t now) const;
  // Appends the big-endian bytes of record index.
  void AppendRecord(int index, std::int64_t now, std::vector<std::uint8_t>& out) const;

 private:
  std::vector<FieldType> fields_;
  int records_;
  std::int64_t step_;
};

}  // namespace tarvo::devsim
