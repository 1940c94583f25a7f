#include "platform/ini/IniStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace tarvo {
namespace {

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// A descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  // Closes now, reporting the error a late write-back may only show here.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A temporary file removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(std::string name) : name_(std::move(name)) {}
  ~TempFile() {
    if (!renamed_) ::unlink(name_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool RenameTo(const std::string& target) {
    renamed_ = ::rename(name_.c_str(), target.c_str()) == 0;
    return renamed_;
  }

 private:
  std::string name_;
  bool renamed_ = false;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

IniStorage::Contents IniStorage::Read() const {
  // Non-blocking, so that a FIFO in the file's place cannot hang the caller.
  Fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {Status::Missing, {}, {}};
    return {Status::Failed, {}, ErrnoText(errno)};
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return {Status::Failed, {}, ErrnoText(errno)};
  if (S_ISDIR(st.st_mode)) return {Status::Failed, {}, ErrnoText(EISDIR)};
  if (!S_ISREG(st.st_mode)) return {Status::Failed, {}, "Not a regular file"};

  std::string bytes;
  char chunk[64 * 1024];
  while (bytes.size() <= kMaxBytes) {
    const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {Status::Failed, {}, ErrnoText(errno)};
    }
    if (n == 0) return {Status::Ok, std::move(bytes), {}};
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  bytes.resize(kMaxBytes);
  const std::size_t lastBreak = bytes.rfind('\n');
  bytes.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
  return {Status::TooLarge, std::move(bytes), {}};
}

std::string IniStorage::Replace(std::string_view bytes) const {
  std::string target = path_;
  struct stat st {};
  // Through a symbolic link, replace the file it points to rather than the link.
  if (::lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path_, ec);
    if (!ec) target = real.string();
  }
  const bool existed = ::stat(target.c_str(), &st) == 0;

  static std::atomic<unsigned> serial{0};
  std::string tempName;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    tempName = target + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    raw = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw < 0 && errno != EEXIST) return ErrnoText(errno);
  }
  if (raw < 0) return ErrnoText(EEXIST);
  Fd fd(raw);
  TempFile temp(tempName);

  if (existed) {
    // Best effort: only root may give a file away, and a changed mode is not worth failing for.
    ::fchmod(fd.Get(), st.st_mode & 07777);
    if (::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) {
    }
  }
  if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0 || !fd.Close()) {
    return ErrnoText(errno);
  }
  if (!temp.RenameTo(target)) return ErrnoText(errno);
  return {};
}

}  // namespace tarvo
