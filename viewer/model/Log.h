#pragma once
// TLogDesc and TLog: the journal a polling frame keeps, its stored description and the open file.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/variant/Variant.h"
#include "viewer/model/CustomFormat.h"

namespace tarvo {

class TDocStream;

// One journal column.
struct TZap {
  std::int32_t UnitIndex = 0;  // the data unit logged
  std::int32_t Reserved = 0;   // stored, not used by the journal
  std::string Name;
  std::string Units;
  std::int32_t FrmtCode = 0;
  bool operator==(const TZap&) const = default;
};

// The journal description stored with a polling frame.
struct TLogDesc {
  bool LogOn = false;
  bool LogSuspended = true;
  std::string FileName = "Новый журнал";
  std::int32_t FormatKind = 1;  // the writer's kinds 0 ... 4
  std::string Title;            // first line of the file
  bool AppendToFile = false;
  TCustomFormat CustomFormat;
  std::vector<TZap> Columns;

  // A frame opens its journal only then.
  bool Active() const { return LogOn && !LogSuspended; }

  // On a damaged stream this raises EDocStreamError and keeps its old contents.
  void LoadFromStream(TDocStream& s);
  void SaveToStream(TDocStream& s) const;

  bool operator==(const TLogDesc&) const = default;
};

// The text of a value in a journal column of the given format code; empty when the code does
// not suit the value's type.
std::string LogColumnText(const Variant& value, std::int32_t frmtCode);

// An open journal; the file is reopened for every row.
class TLog {
 public:
  void AddColumn(std::string name, std::int32_t frmtCode, std::string units);
  // Writes the head (kinds other than 3) or empties the file (kind 3, unless appending). An
  // unknown kind raises std::range_error before the file is touched.
  void Open(const TLogDesc& desc);
  // One value, or a one-dimensional array with a value per column.
  void WriteRow(const Variant& values);

  const std::vector<TZap>& Columns() const { return columns_; }

 private:
  std::vector<TZap> columns_;
  std::string fileName_;
  std::uint8_t kind_ = 1;
  std::string title_;
  bool append_ = false;
  TCustomFormat format_;
};

}  // namespace tarvo
