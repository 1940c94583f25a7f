#include "platform/storage/StorageName.h"

#include <glib.h>

#include <memory>

#include "platform/storage/StorageError.h"

namespace tarvo {

namespace {

struct GFreeDeleter {
  void operator()(gchar* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<gchar, GFreeDeleter>;

}  // namespace

std::size_t StorageName::Utf16Units(std::string_view utf8) {
  std::size_t units = 0;
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    gunichar c = g_utf8_get_char(p);
    units += c > 0xFFFF ? 2 : 1;
    p = g_utf8_next_char(p);
  }
  return units;
}

void StorageName::Check(std::string_view name) {
  std::string shown(name);
  if (name.empty()) throw StorageError("Empty storage or stream name");
  for (unsigned char c : name) {
    if (c == 0 || c == '/' || c == '\\' || c == ':' || c == '!')
      throw StorageError("Storage or stream name holds a reserved character: \"" + shown + "\"");
  }
  if (!g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
    throw StorageError("Storage or stream name is not valid UTF-8");
  if (Utf16Units(name) > kMaxUnits)
    throw StorageError("Storage or stream name longer than 31 characters: \"" + shown + "\"");
}

bool StorageName::SameEntry(std::string_view a, std::string_view b) {
  if (a == b) return true;
  GString_ ua(g_utf8_strup(a.data(), static_cast<gssize>(a.size())));
  GString_ ub(g_utf8_strup(b.data(), static_cast<gssize>(b.size())));
  return ua && ub && g_strcmp0(ua.get(), ub.get()) == 0;
}

}  // namespace tarvo
