#include "platform/storage/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/storage/StorageError.h"

namespace tarvo {

namespace {

std::string Folder(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Base(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary file, removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(const std::string& path)
      : name_(Folder(path) + "/." + Base(path) + ".tmp-XXXXXX") {
    std::vector<char> buf(name_.begin(), name_.end());
    buf.push_back('\0');
    fd_ = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd_ >= 0) name_ = buf.data();
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(name_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Keep() { kept_ = true; }

 private:
  std::string name_;
  int fd_ = -1;
  bool kept_ = false;
};

[[noreturn]] void Fail(const std::string& path, const char* step, int err) {
  throw StorageError(path + ": Cannot save compound file (" + step + ": " + std::strerror(err) +
                     ")");
}

}  // namespace

void SafeFile::Replace(const std::string& path, std::string_view bytes) {
  TempFile tmp(path);
  if (tmp.fd() < 0) {
    int err = errno;
    throw StorageError(path + ": Cannot save compound file (temporary file in " + Folder(path) +
                       ": " + std::strerror(err) + ")");
  }
  // Keep the old file's permissions; a new file gets the usual ones for this process.
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(tmp.fd(), mode) != 0) Fail(path, "chmod", errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(tmp.fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(path, "write", n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(tmp.fd()) != 0) Fail(path, "fsync", errno);
  if (!tmp.Close()) Fail(path, "close", errno);
  if (::rename(tmp.name().c_str(), path.c_str()) != 0) Fail(path, "rename", errno);
  tmp.Keep();
  // The rename itself survives a power cut only once the folder is synced.
  int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace tarvo
