#include "platform/sync/RecursiveLock.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

namespace tarvo {
namespace {

bool TryFromOtherThread(RecursiveLock& lock) {
  return std::async(std::launch::async,
                    [&] {
                      const bool taken = lock.try_lock();
                      if (taken) lock.unlock();
                      return taken;
                    })
      .get();
}

TEST(SyncRecursiveLockTest, ReentersOnItsThreadAndExcludesOthersUntilFullyReleased) {
  RecursiveLock lock;
  {
    std::lock_guard outer(lock);
    std::scoped_lock middle(lock);
    lock.Lock();
    EXPECT_TRUE(lock.try_lock());
    EXPECT_FALSE(TryFromOtherThread(lock));
    lock.unlock();
    lock.Unlock();
    EXPECT_FALSE(TryFromOtherThread(lock)) << "still held twice";
  }
  EXPECT_TRUE(TryFromOtherThread(lock));

  std::unique_lock held(lock, std::try_to_lock);
  EXPECT_TRUE(held.owns_lock());
  EXPECT_FALSE(TryFromOtherThread(lock));
}

}  // namespace
}  // namespace tarvo
