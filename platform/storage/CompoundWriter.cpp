#include "platform/storage/CompoundWriter.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>

#include "platform/storage/GsfRef.h"
#include "platform/storage/StorageError.h"

namespace tarvo {

namespace {

[[noreturn]] void Fail(const std::string& shown, const std::string& what) {
  throw StorageError(shown + ": Cannot write compound file: " + what);
}

void Close(GsfOutput* out, const std::string& shown, const std::string& what) {
  if (!gsf_output_is_closed(out) && !gsf_output_close(out)) Fail(shown, what);
}

void WriteTree(GsfOutfile* dir, const Storage& node, const std::string& shown) {
  for (const auto& name : node.StorageNames()) {
    GsfRef<GsfOutput> child(gsf_outfile_new_child(dir, name.c_str(), TRUE));
    if (!child || !GSF_IS_OUTFILE(child.get())) Fail(shown, "storage \"" + name + "\"");
    WriteTree(GSF_OUTFILE(child.get()), node.OpenStorage(name), shown);
    Close(child.get(), shown, "storage \"" + name + "\"");
  }
  for (const auto& name : node.StreamNames()) {
    GsfRef<GsfOutput> child(gsf_outfile_new_child(dir, name.c_str(), FALSE));
    if (!child) Fail(shown, "stream \"" + name + "\"");
    std::string bytes = node.ReadStream(name);
    if (!bytes.empty() &&
        !gsf_output_write(child.get(), bytes.size(), reinterpret_cast<const guint8*>(bytes.data())))
      Fail(shown, "stream \"" + name + "\"");
    Close(child.get(), shown, "stream \"" + name + "\"");
  }
}

}  // namespace

std::string CompoundWriter::ToBytes(const Storage& root, const std::string& shown) {
  GsfRef<GsfOutput> sink(gsf_output_memory_new());
  if (!sink) Fail(shown, "no memory sink");
  GsfRef<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
  if (!ole) Fail(shown, "no compound writer");
  WriteTree(ole.get(), root, shown);
  Close(GSF_OUTPUT(ole.get()), shown, "directory");
  Close(sink.get(), shown, "memory sink");
  const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
  gsf_off_t size = gsf_output_size(sink.get());
  if (!data || size <= 0) Fail(shown, "nothing was produced");
  return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace tarvo
