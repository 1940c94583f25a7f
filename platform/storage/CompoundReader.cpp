#include "platform/storage/CompoundReader.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>

#include <mutex>

#include "platform/storage/GsfRef.h"
#include "platform/storage/StorageError.h"
#include "platform/storage/StorageName.h"

namespace tarvo {

namespace {

class Walker {
 public:
  explicit Walker(const std::string& shown) : shown_(shown) {}

  [[noreturn]] void Damaged(const std::string& what) const {
    throw StorageError(shown_ + ": Damaged compound file: " + what);
  }

  void Walk(GsfInfile* dir, Storage& into, int depth) {
    if (depth > CompoundReader::kMaxDepth) Damaged("storages nested too deep");
    int n = gsf_infile_num_children(dir);
    if (n < 0) Damaged("a storage without a directory");
    for (int i = 0; i < n; ++i) {
      if (++entries_ > CompoundReader::kMaxEntries) Damaged("too many entries");
      const char* raw = gsf_infile_name_by_index(dir, i);
      if (!raw) Damaged("an entry without a name");
      std::string name(raw);
      GsfRef<GsfInput> child(gsf_infile_child_by_index(dir, i));
      if (!child) Damaged("entry \"" + name + "\" cannot be opened");
      try {
        StorageName::Check(name);
      } catch (const StorageError& e) {
        Damaged(e.what());
      }
      GsfInfile* sub = GSF_IS_INFILE(child.get()) ? GSF_INFILE(child.get()) : nullptr;
      bool is_dir = sub && gsf_infile_num_children(sub) >= 0;
      try {
        if (is_dir) {
          Walk(sub, into.CreateStorage(name), depth + 1);
        } else {
          into.WriteStream(name, ReadAll(child.get(), name));
        }
      } catch (const StorageError& e) {
        if (std::string_view(e.what()).starts_with(shown_ + ":")) throw;
        Damaged(e.what());
      }
    }
  }

 private:
  std::string ReadAll(GsfInput* in, const std::string& name) {
    gsf_off_t size = gsf_input_size(in);
    if (size < 0) Damaged("stream \"" + name + "\" has no size");
    auto usize = static_cast<std::uint64_t>(size);
    if (usize > CompoundReader::kMaxTotalBytes - total_)
      Damaged("more than 256 MiB of stream data");
    total_ += usize;
    std::string bytes(usize, '\0');
    std::uint64_t done = 0;
    while (done < usize) {
      std::uint64_t chunk = std::min<std::uint64_t>(usize - done, 1 << 16);
      if (!gsf_input_read(in, chunk, reinterpret_cast<guint8*>(bytes.data() + done)))
        Damaged("stream \"" + name + "\" is cut short");
      done += chunk;
    }
    return bytes;
  }

  const std::string& shown_;
  std::uint64_t total_ = 0;
  std::uint64_t entries_ = 0;
};

void DropLibraryMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// A damaged file makes the library print warnings and assertion failures on stderr (fatal
// under G_DEBUG=fatal-criticals); the caller gets a StorageError instead.
void QuietLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL |
                                              G_LOG_FLAG_RECURSION);
    for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils"})
      g_log_set_handler(domain, levels, DropLibraryMessage, nullptr);
  });
}

void ReadInput(GsfRef<GsfInput> input, const std::string& shown, Storage& root) {
  QuietLibrary();
  if (gsf_input_size(input.get()) == 0) throw StorageError(shown + ": Not a compound file (empty)");
  GsfError err;
  GsfRef<GsfInfile> ole(gsf_infile_msole_new(input.get(), err.out()));
  if (!ole) throw StorageError(shown + ": Not a compound file (" + err.Message() + ")");
  Walker(shown).Walk(ole.get(), root, 0);
}

}  // namespace

void CompoundReader::ReadFile(const std::string& path, Storage& root) {
  GsfError err;
  GsfRef<GsfInput> input(gsf_input_stdio_new(path.c_str(), err.out()));
  if (!input) throw StorageError(path + ": Cannot open compound file (" + err.Message() + ")");
  ReadInput(std::move(input), path, root);
}

void CompoundReader::ReadMemory(std::string_view bytes, const std::string& shown, Storage& root) {
  GsfRef<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                              static_cast<gsf_off_t>(bytes.size()), FALSE));
  if (!input) throw StorageError(shown + ": Not a compound file (empty)");
  ReadInput(std::move(input), shown, root);
}

}  // namespace tarvo
