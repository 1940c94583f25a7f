#pragma once

#include <stdexcept>

namespace tarvo {

// A compound file that cannot be read, written or changed as asked; the message names the file
// (or the entry) and the problem.
class StorageError : public std::runtime_error {
 public:
  using runtime_error::runtime_error;
};

}  // namespace tarvo
