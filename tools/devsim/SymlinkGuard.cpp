#include "tools/devsim/SymlinkGuard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarvo::devsim {

SymlinkGuard::SymlinkGuard(std::string path, const std::string& target) : path_(std::move(path)) {
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode))
      throw std::system_error(EEXIST, std::generic_category(), path_ + " is not a symbolic link");
    ::unlink(path_.c_str());
  }
  if (::symlink(target.c_str(), path_.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "symlink " + path_);
}

SymlinkGuard::~SymlinkGuard() { ::unlink(path_.c_str()); }

}  // namespace tarvo::devsim
