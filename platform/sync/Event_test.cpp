#include "platform/sync/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/sync/Clock.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLongMs = 10'000;  // "forever" that still fails rather than hangs

struct ResetCase {
  const char* name;
  bool manualReset;
  bool setAfterWait;
};

void PrintTo(const ResetCase& c, std::ostream* os) {
  *os << c.name;
}

class EventResetTest : public testing::TestWithParam<ResetCase> {};

TEST_P(EventResetTest, PeekDoesNotConsumeAndWaitConsumesOnlyAutoReset) {
  Event e(GetParam().manualReset, /*initiallySet=*/true);
  EXPECT_TRUE(e.IsSet());
  EXPECT_TRUE(e.IsSet());
  EXPECT_TRUE(e.Wait(0));
  EXPECT_EQ(e.IsSet(), GetParam().setAfterWait);
  EXPECT_EQ(e.Wait(0), GetParam().setAfterWait);
  e.Reset();
  EXPECT_FALSE(e.IsSet());
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  e.Set();  // setting twice does not count twice
  EXPECT_TRUE(e.Wait(0));
  EXPECT_EQ(e.Wait(0), GetParam().setAfterWait);
}

INSTANTIATE_TEST_SUITE_P(Event, EventResetTest,
                         testing::Values(ResetCase{"Manual", true, true},
                                         ResetCase{"Auto", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EventTest, AutoResetReleasesExactlyOneOfTwoWaiters) {
  Event e(/*manualReset=*/false);
  std::atomic<int> released{0};
  auto waiter = [&] {
    const bool ok = e.Wait(kLongMs);
    ++released;
    return ok;
  };
  auto first = std::async(std::launch::async, waiter);
  auto second = std::async(std::launch::async, waiter);
  std::this_thread::sleep_for(50ms);  // lets both block; the checks hold either way

  e.Set();
  for (int i = 0; i < 500 && released == 0; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(released, 1);
  EXPECT_FALSE(e.IsSet());

  e.Set();
  EXPECT_TRUE(first.get());
  EXPECT_TRUE(second.get());
  EXPECT_FALSE(e.IsSet());
}

TEST(EventTest, ManualResetReleasesEveryWaiterAndStaysSet) {
  Event e(/*manualReset=*/true);
  std::vector<std::future<bool>> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.push_back(std::async(std::launch::async, [&] { return e.Wait(kLongMs); }));
  }
  std::this_thread::sleep_for(50ms);
  e.Set();
  for (auto& w : waiters) EXPECT_TRUE(w.get());
  EXPECT_TRUE(e.IsSet());
}

TEST(EventTest, TimesOutInRealTime) {
  Event e(/*manualReset=*/false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.Wait(50));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 50ms);
  EXPECT_LT(elapsed, 5s);
}

// Two threads hand a token back and forth; a wake-up lost between a waiter's check and its
// sleep shows up as a failed wait.
TEST(EventTest, PingPongLosesNoWakeUp) {
  constexpr int kRounds = 20'000;
  Event ping(/*manualReset=*/false);
  Event pong(/*manualReset=*/false);
  auto partner = std::async(std::launch::async, [&] {
    for (int i = 0; i < kRounds; ++i) {
      if (!ping.Wait(kLongMs)) return i;
      pong.Set();
    }
    return kRounds;
  });
  int completed = 0;
  for (; completed < kRounds; ++completed) {
    ping.Set();
    if (!pong.Wait(kLongMs)) break;
  }
  EXPECT_EQ(completed, kRounds);
  EXPECT_EQ(partner.get(), kRounds);
}

}  // namespace
}  // namespace tarvo
