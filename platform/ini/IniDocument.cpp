#include "platform/ini/IniDocument.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/text/Text.h"
#include "platform/text/Utf8.h"

namespace tarvo {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// Every letter code page 1251 can hold: Latin A-Z and the Cyrillic alphabets it covers.
char32_t FoldChar(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0x0410 && c <= 0x042F) return c + 0x20;  // А..Я
  if (c >= 0x0400 && c <= 0x040F) return c + 0x50;  // Ѐ..Џ, with Ё, Ў, Є, Ї, І
  if (c == 0x0490) return 0x0491;                   // Ґ
  return c;
}

std::string Fold(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Utf8Reader reader(utf8);
  while (!reader.AtEnd()) AppendUtf8(out, FoldChar(reader.Next()));
  return out;
}

std::string OnDisk(std::string_view utf8Name) {
  return Utf8ToCp1251(TrimBlanks(utf8Name));
}

// Through the code page first, so that a name is found exactly as it would have been stored.
std::string Folded(std::string_view utf8Name) {
  return Fold(Cp1251ToUtf8(OnDisk(utf8Name)));
}

}  // namespace

IniDocument::IniDocument(std::string_view bytes) {
  bool inSection = false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end == std::string_view::npos) end = bytes.size();
    if (end > start && bytes[end - 1] == '\r') --end;
    Line line = Parse(std::string(bytes.substr(start, end - start)), inSection);
    inSection = inSection || line.kind == Kind::Header;
    lines_.push_back(std::move(line));
    start = next;
  }
}

IniDocument::Line IniDocument::Parse(std::string text, bool inSection) {
  Line line;
  const std::string_view t = TrimBlanks(text);
  if (!t.empty() && t.front() == '[') {
    const std::size_t close = t.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Kind::Header;
      line.name = Cp1251ToUtf8(TrimBlanks(t.substr(1, close - 1)));
    }
  }
  // Keys before the first section belong to no section and are never seen.
  if (line.kind == Kind::Other && inSection && !t.empty() && t.front() != ';') {
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) {
      const std::string_view key = TrimBlanks(std::string_view(text).substr(0, eq));
      if (!key.empty()) {
        line.kind = Kind::Entry;
        line.name = Cp1251ToUtf8(key);
        line.valueAt = eq + 1;
      }
    }
  }
  line.folded = Fold(line.name);
  line.text = std::move(text);
  return line;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  const std::string s = Folded(section), k = Folded(key);
  bool in = false;
  for (const Line& line : lines_) {
    if (line.kind == Kind::Header) {
      in = line.folded == s;
    } else if (in && line.kind == Kind::Entry && line.folded == k) {
      const std::string_view raw = std::string_view(line.text).substr(line.valueAt);
      return Cp1251ToUtf8(Unquote(TrimBlanks(raw)));
    }
  }
  return std::nullopt;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  const std::string s = Folded(section);
  std::vector<std::string> names, seen;
  bool in = false;
  for (const Line& line : lines_) {
    if (line.kind == Kind::Header) {
      in = line.folded == s;
    } else if (in && line.kind == Kind::Entry) {
      if (std::find(seen.begin(), seen.end(), line.folded) != seen.end()) continue;
      seen.push_back(line.folded);
      names.push_back(line.name);
    }
  }
  return names;
}

std::vector<std::string> IniDocument::Sections() const {
  std::vector<std::string> names, seen;
  for (const Line& line : lines_) {
    if (line.kind != Kind::Header) continue;
    if (std::find(seen.begin(), seen.end(), line.folded) != seen.end()) continue;
    seen.push_back(line.folded);
    names.push_back(line.name);
  }
  return names;
}

std::string IniDocument::WhyNotWritable(std::string_view section, std::string_view key,
                                        std::string_view value) {
  for (const std::string_view text : {section, key, value}) {
    if (text.find_first_of("\r\n") != std::string_view::npos) {
      return "a section name, key or value holds a line break";
    }
  }
  const std::string_view k = TrimBlanks(key);
  if (k.empty() || k.find('=') != std::string_view::npos || k.front() == ';' || k.front() == '[') {
    return "\"" + std::string(key) + "\" cannot be a key";
  }
  return {};
}

bool IniDocument::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string s = Folded(section), k = Folded(key);
  const std::string bytes = Utf8ToCp1251(value);
  constexpr std::size_t kNone = std::string::npos;
  std::size_t header = kNone, insertAfter = kNone;
  bool in = false, inFirst = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    if (line.kind == Kind::Header) {
      in = line.folded == s;
      inFirst = in && header == kNone;
      if (inFirst) header = insertAfter = i;
      continue;
    }
    if (!in || line.kind != Kind::Entry) continue;
    if (inFirst) insertAfter = i;
    if (line.folded != k) continue;
    // Keep the key's spelling and the spacing around '=' as the file had them.
    std::size_t at = line.valueAt;
    while (at < line.text.size() && IsBlank(line.text[at])) ++at;
    std::string text = line.text.substr(0, at) + bytes;
    if (text == line.text) return false;
    line = Parse(std::move(text), true);
    return true;
  }

  Line entry = Parse(OnDisk(key) + "=" + bytes, true);
  if (header != kNone) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, std::move(entry));
    return true;
  }
  if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty()) lines_.push_back(Parse("", true));
  lines_.push_back(Parse("[" + OnDisk(section) + "]", true));
  lines_.push_back(std::move(entry));
  return true;
}

bool IniDocument::RemoveKey(std::string_view section, std::string_view key) {
  const std::string s = Folded(section), k = Folded(key);
  std::vector<Line> kept;
  bool in = false;
  for (Line& line : lines_) {
    if (line.kind == Kind::Header) in = line.folded == s;
    if (in && line.kind == Kind::Entry && line.folded == k) continue;
    kept.push_back(std::move(line));
  }
  const bool changed = kept.size() != lines_.size();
  lines_ = std::move(kept);
  return changed;
}

bool IniDocument::RemoveSection(std::string_view section) {
  const std::string s = Folded(section);
  std::vector<Line> kept;
  bool in = false;
  for (Line& line : lines_) {
    if (line.kind == Kind::Header) in = line.folded == s;
    if (!in) kept.push_back(std::move(line));
  }
  const bool changed = kept.size() != lines_.size();
  lines_ = std::move(kept);
  return changed;
}

std::string IniDocument::Bytes() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += "\r\n";
  }
  return out;
}

}  // namespace tarvo
