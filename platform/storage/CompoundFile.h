#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/storage/Storage.h"

namespace tarvo {

// A compound file handled as a whole: opening reads every storage and stream into memory,
// changes go to that tree, and Save writes the whole tree out, replacing the file only once
// the new one is complete. Errors raise StorageError naming the file.
class CompoundFile {
 public:
  // An empty tree that Save will write to `path`; nothing touches the disk until then.
  static CompoundFile Create(std::string path);
  // Reads `path`; "Not a compound file" or "Damaged compound file: ..." when it cannot.
  static CompoundFile Open(std::string path);
  // Reads bytes already in memory; `shown` names them in errors.
  static CompoundFile OpenBytes(std::string_view bytes, std::string shown = "<memory>");
  // A scratch store with no file: Save is refused, everything vanishes with the object.
  static CompoundFile InMemory();
  // A scratch store backed by a fresh file in `folder`, removed when the object goes away.
  static CompoundFile Temporary(const std::string& folder);

  CompoundFile(CompoundFile&&) noexcept;
  CompoundFile& operator=(CompoundFile&&) noexcept;
  ~CompoundFile();

  Storage& Root() { return *root_; }
  const Storage& Root() const { return *root_; }
  // Empty for an in-memory store.
  const std::string& Path() const { return path_; }

  void Save();
  // Writes to another file, which becomes this object's file from then on.
  void SaveAs(std::string path);
  // The bytes Save would write.
  std::string ToBytes() const;

 private:
  CompoundFile(std::string path, bool temporary);

  std::string path_;
  bool temporary_ = false;
  std::unique_ptr<Storage> root_;
};

}  // namespace tarvo
