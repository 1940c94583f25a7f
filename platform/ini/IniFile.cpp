#include "platform/ini/IniFile.h"

#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/ini/IniDocument.h"
#include "platform/ini/IniStorage.h"

namespace tarvo {
namespace {

// An unreadable file reads as empty, like a missing one: the caller gets its defaults.
IniDocument Load(const std::string& path) {
  return IniDocument(IniStorage(path).Read().bytes);
}

[[noreturn]] void Fail(const std::string& path, std::string_view why) {
  throw IniError("Cannot write settings file " + path + ": " + std::string(why));
}

// Threads of one program must not lose each other's changes between the read and the rename.
std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

template <typename Change>
void Update(const std::string& path, Change change) {
  const std::lock_guard lock(WriteMutex());
  const IniStorage storage(path);
  const IniStorage::Contents contents = storage.Read();
  if (contents.status == IniStorage::Status::Failed) Fail(path, contents.error);
  // Only the start of such a file was read; writing it back would drop the rest.
  if (contents.status == IniStorage::Status::TooLarge) Fail(path, "the file is larger than 1 MiB");
  IniDocument doc(contents.bytes);
  if (!change(doc)) return;
  const std::string error = storage.Replace(doc.Bytes());
  if (!error.empty()) Fail(path, error);
}

int DigitValue(char c, int base) {
  int d = 99;
  if (c >= '0' && c <= '9') d = c - '0';
  if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

std::optional<std::int32_t> ParseInteger(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.starts_with('$')) {
    base = 16;
    s.remove_prefix(1);
  } else if (s.starts_with("0x") || s.starts_with("0X")) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (const char c : s) {
    const int d = DigitValue(c, base);
    if (d < 0) return std::nullopt;
    magnitude = magnitude * base + d;
    if (magnitude > kLimit) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const {
  return Load(path_).Value(section, key).value_or(std::string(def));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t def) const {
  const std::optional<std::string> text = Load(path_).Value(section, key);
  if (!text) return def;
  return ParseInteger(*text).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string why = IniDocument::WhyNotWritable(section, key, value);
  if (!why.empty()) Fail(path_, why);
  Update(path_, [&](IniDocument& doc) { return doc.SetValue(section, key, value); });
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool IniFile::SectionExists(std::string_view section) const {
  return !ReadSection(section).empty();
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return Load(path_).Value(section, key).has_value();
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  return Load(path_).Keys(section);
}

std::vector<std::string> IniFile::ReadSections() const {
  return Load(path_).Sections();
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  Update(path_, [&](IniDocument& doc) { return doc.RemoveKey(section, key); });
}

void IniFile::EraseSection(std::string_view section) {
  Update(path_, [&](IniDocument& doc) { return doc.RemoveSection(section); });
}

}  // namespace tarvo
