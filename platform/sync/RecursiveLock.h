#pragma once

#include <mutex>

namespace tarvo {

// A re-entrant critical section; usable with std::lock_guard, std::unique_lock, std::scoped_lock.
class RecursiveLock {
 public:
  RecursiveLock() = default;
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool try_lock() { return mutex_.try_lock(); }

  void Lock() { lock(); }
  void Unlock() { unlock(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace tarvo
