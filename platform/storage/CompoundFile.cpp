#include "platform/storage/CompoundFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/storage/CompoundReader.h"
#include "platform/storage/CompoundWriter.h"
#include "platform/storage/SafeFile.h"
#include "platform/storage/StorageError.h"

namespace tarvo {

CompoundFile::CompoundFile(std::string path, bool temporary)
    : path_(std::move(path)), temporary_(temporary), root_(std::make_unique<Storage>()) {}

CompoundFile::CompoundFile(CompoundFile&& o) noexcept
    : path_(std::move(o.path_)),
      temporary_(std::exchange(o.temporary_, false)),
      root_(std::move(o.root_)) {}

CompoundFile& CompoundFile::operator=(CompoundFile&& o) noexcept {
  std::swap(path_, o.path_);
  std::swap(temporary_, o.temporary_);
  std::swap(root_, o.root_);
  return *this;
}

CompoundFile::~CompoundFile() {
  if (temporary_ && !path_.empty()) ::unlink(path_.c_str());
}

CompoundFile CompoundFile::Create(std::string path) {
  if (path.empty()) throw StorageError("Compound file needs a path");
  return CompoundFile(std::move(path), false);
}

CompoundFile CompoundFile::Open(std::string path) {
  CompoundFile f(std::move(path), false);
  CompoundReader::ReadFile(f.path_, *f.root_);
  return f;
}

CompoundFile CompoundFile::OpenBytes(std::string_view bytes, std::string shown) {
  CompoundFile f(std::string(), false);
  CompoundReader::ReadMemory(bytes, shown, *f.root_);
  return f;
}

CompoundFile CompoundFile::InMemory() { return CompoundFile(std::string(), false); }

CompoundFile CompoundFile::Temporary(const std::string& folder) {
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/tarvo-store-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    int err = errno;
    throw StorageError(pattern + ": Cannot create temporary compound file (" +
                       std::strerror(err) + ")");
  }
  ::close(fd);
  CompoundFile f(std::string(buf.data()), true);
  try {
    f.Save();
  } catch (...) {
    ::unlink(buf.data());
    f.temporary_ = false;
    throw;
  }
  return f;
}

std::string CompoundFile::ToBytes() const {
  return CompoundWriter::ToBytes(*root_, path_.empty() ? "<memory>" : path_);
}

void CompoundFile::Save() {
  if (path_.empty()) throw StorageError("<memory>: An in-memory compound file has no file to save");
  SafeFile::Replace(path_, ToBytes());
}

void CompoundFile::SaveAs(std::string path) {
  if (path.empty()) throw StorageError("Compound file needs a path");
  SafeFile::Replace(path, CompoundWriter::ToBytes(*root_, path));
  if (temporary_) ::unlink(path_.c_str());
  temporary_ = false;
  path_ = std::move(path);
}

}  // namespace tarvo
