#include "viewer/model/Log.h"

#include <exception>
#include <span>
#include <stdexcept>
#include <utility>

#include "viewer/model/DocStream.h"
#include "viewer/model/MyFormatedFile.h"
#include "viewer/model/StdFormat.h"

namespace tarvo {
namespace {

// Bytes of the smallest stored column: three integers and two empty strings.
constexpr std::size_t kMinColumnBytes = 20;
constexpr std::uint8_t kBadKind = 255;

bool IsJournalIntegerVt(VarType vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: return true;
    default: return false;
  }
}

std::string Duration(std::int64_t v, std::int32_t code) {
  if (code == 45) {
    const std::int64_t rest = v % 86400;
    return StdFormat(FormatOfCode(code), {Variant(v / 86400), Variant(rest / 3600),
                                          Variant(rest % 3600 / 60), Variant(rest % 60)});
  }
  return StdFormat(FormatOfCode(code), {Variant(v / 3600), Variant(v % 3600 / 60), Variant(v % 60)});
}

std::string ColumnTextOrThrow(const Variant& value, std::int32_t code) {
  const VarType vt = value.vt();
  if (IsJournalIntegerVt(vt)) {
    const std::int64_t v = value.RawInt();
    if (code >= 0 && code <= 29) return StdFormat(FormatOfCode(code), {Variant(static_cast<double>(v))});
    if (code == 30 || code == 31) return StdFormat(FormatOfCode(code), {value});
    if (code >= 32 && code <= 44)
      return FormatCalendar(FormatOfCode(code), DeviceSecondsToParts(static_cast<std::uint32_t>(v)));
    if (code == 45 || code == 46) return Duration(v, code);
    return {};
  }
  if (vt == VT_R4 || vt == VT_R8) {
    if (code < 0 || code > 31) return {};
    return StdFormat(FormatOfCode(code), {Variant(value.RawReal())});
  }
  if (vt == VT_BOOL) return value.RawInt() != 0 ? "1" : "0";
  return {};
}

std::uint8_t KindOf(std::int32_t kind) {
  return kind >= 0 && kind <= 4 ? static_cast<std::uint8_t>(kind) : kBadKind;
}

}  // namespace

void TLogDesc::LoadFromStream(TDocStream& s) {
  TLogDesc d;
  d.LogOn = s.ReadBoolean();
  d.LogSuspended = s.ReadBoolean();
  d.FileName = s.ReadString();
  d.FormatKind = s.ReadInteger();
  d.Title = s.ReadString();
  d.AppendToFile = s.ReadBoolean();
  const std::int32_t count = s.ReadInteger();
  std::array<std::uint8_t, TCustomFormat::kSize> raw;
  s.Read(raw.data(), raw.size());
  d.CustomFormat = TCustomFormat::FromBytes(raw);
  if (count < 0 || static_cast<std::size_t>(count) > s.Remaining() / kMinColumnBytes)
    throw EDocStreamError("Stream read error: " + std::to_string(count) +
                          " journal columns do not fit in the " + std::to_string(s.Remaining()) +
                          " bytes left");
  for (std::int32_t i = 0; i < count; ++i) {
    TZap z;
    z.UnitIndex = s.ReadInteger();
    z.Reserved = s.ReadInteger();
    z.Name = s.ReadString();
    z.Units = s.ReadString();
    z.FrmtCode = s.ReadInteger();
    d.Columns.push_back(std::move(z));
  }
  *this = std::move(d);
}

void TLogDesc::SaveToStream(TDocStream& s) const {
  // Built first, so that a text too long for the record leaves the stream untouched.
  const auto raw = CustomFormat.ToBytes();
  s.WriteBoolean(LogOn);
  s.WriteBoolean(LogSuspended);
  s.WriteString(FileName);
  s.WriteInteger(FormatKind);
  s.WriteString(Title);
  s.WriteBoolean(AppendToFile);
  s.WriteInteger(static_cast<std::int32_t>(Columns.size()));
  s.Write(raw.data(), raw.size());
  for (const TZap& z : Columns) {
    s.WriteInteger(z.UnitIndex);
    s.WriteInteger(z.Reserved);
    s.WriteString(z.Name);
    s.WriteString(z.Units);
    s.WriteInteger(z.FrmtCode);
  }
}

std::string LogColumnText(const Variant& value, std::int32_t frmtCode) {
  try {
    return ColumnTextOrThrow(value, frmtCode);
  } catch (const std::exception&) {
    return {};
  }
}

void TLog::AddColumn(std::string name, std::int32_t frmtCode, std::string units) {
  TZap z;
  z.Name = std::move(name);
  z.Units = std::move(units);
  z.FrmtCode = frmtCode;
  columns_.push_back(std::move(z));
}

void TLog::Open(const TLogDesc& desc) {
  kind_ = KindOf(desc.FormatKind);
  fileName_ = desc.FileName;
  format_ = desc.CustomFormat;
  append_ = desc.AppendToFile;
  title_ = desc.Title;
  if (kind_ == kBadKind) throw std::range_error("Журнал: Неизвестный формат файла!");

  // Opening for appending creates a missing file, so "append and the file exists" needs no test.
  TCustomFormat head = format_;
  head.TextBefore.clear();
  head.TextAfter.clear();
  TMyFormatedFile f(kind_, head);
  f.Create(fileName_, append_);
  if (kind_ != 3) {
    const bool custom = kind_ == 4;
    if (!custom || head.ShowTitle) {
      f.WriteField(title_);
      f.EndLine();
    }
    if (!custom || head.ShowFieldNames) {
      if (custom) f.WriteField("Дата время");
      for (const TZap& z : columns_) {
        const bool units = !z.Units.empty() && (!custom || head.ShowUnits);
        f.WriteField(units ? z.Name + ", " + z.Units : z.Name);
      }
      f.EndLine();
    }
  }
  f.Close();
}

void TLog::WriteRow(const Variant& values) {
  std::vector<const Variant*> row;
  if (values.IsArray()) {
    if (values.Array().Dims() != 1)
      throw std::range_error("Журнал: Количестве эелементов не соответствует указанному!");
    for (const Variant& v : values.Array().Items()) row.push_back(&v);
  } else {
    row.push_back(&values);
  }
  if (row.size() != columns_.size())
    throw std::range_error("Журнал: Количестве эелементов не соответствует указанному!");
  TMyFormatedFile f(kind_, format_);
  f.Create(fileName_, true);
  for (std::size_t i = 0; i < row.size(); ++i) f.WriteField(LogColumnText(*row[i], columns_[i].FrmtCode));
  f.EndLine();
  f.Close();
}

}  // namespace tarvo
