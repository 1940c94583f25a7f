#pragma once
// A symbolic link that lives as long as the object.

#include <string>

namespace tarvo::devsim {

// Makes path a symbolic link to target, replacing an old link there, and removes it at the end.
// Raises std::system_error; a path that holds something other than a link is left alone.
class SymlinkGuard {
 public:
  SymlinkGuard(std::string path, const std::string& target);
  SymlinkGuard(const SymlinkGuard&) = delete;
  SymlinkGuard& operator=(const SymlinkGuard&) = delete;
  ~SymlinkGuard();

 private:
  std::string path_;
};

}  // namespace tarvo::devsim
