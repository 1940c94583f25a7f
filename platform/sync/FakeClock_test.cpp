#include "platform/sync/FakeClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo {
namespace {

using namespace std::chrono_literals;

template <typename T>
bool Finished(std::future<T>& f) {
  return f.wait_for(10s) == std::future_status::ready;
}

constexpr uint64_t k2Pow32 = uint64_t{1} << 32;

struct StartCase {
  const char* name;
  uint64_t startMs;
};

void PrintTo(const StartCase& c, std::ostream* os) {
  *os << c.name;
}

class FakeClockDeadlineTest : public testing::TestWithParam<StartCase> {};

TEST_P(FakeClockDeadlineTest, TimedWaitEndsExactlyAtItsDeadline) {
  FakeClock clock(GetParam().startMs);
  Event e(/*manualReset=*/false);
  auto waiter = std::async(std::launch::async, [&] { return clock.Wait(&e, nullptr, 1000); });
  ASSERT_TRUE(clock.WaitForWaiters(1));

  clock.Advance(999);
  EXPECT_EQ(clock.Waiters(), 1u);
  clock.Advance(1);
  EXPECT_EQ(clock.Waiters(), 0u);

  if (!Finished(waiter)) e.Set();
  EXPECT_EQ(waiter.get(), WaitResult::Timeout);
}

INSTANTIATE_TEST_SUITE_P(FakeClock, FakeClockDeadlineTest,
                         testing::Values(StartCase{"FromZero", 0},
                                         StartCase{"AcrossTickWrap", k2Pow32 - 500}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FakeClockTest, TickCountWrapsWhileNowMsDoesNot) {
  FakeClock clock(k2Pow32 - 10);
  const uint32_t before = clock.TickCount();
  EXPECT_EQ(before, 0xFFFFFFF6u);
  clock.Advance(20);
  EXPECT_EQ(clock.TickCount(), 10u);
  EXPECT_EQ(clock.NowMs(), k2Pow32 + 10);
  EXPECT_EQ(static_cast<uint32_t>(clock.TickCount() - before), 20u);
}

TEST(FakeClockTest, SetWakesAWaiterWithoutTimeAdvancing) {
  FakeClock clock;
  Event a(/*manualReset=*/false);
  Event b(/*manualReset=*/false);
  auto waiter = std::async(std::launch::async, [&] { return clock.Wait(&a, &b, 1000); });
  ASSERT_TRUE(clock.WaitForWaiters(1));
  b.Set();
  EXPECT_EQ(clock.Waiters(), 0u);
  if (!Finished(waiter)) clock.Advance(1000);
  EXPECT_EQ(waiter.get(), WaitResult::Object1);
  EXPECT_FALSE(b.IsSet()) << "the wait consumed the auto-reset event";
  EXPECT_FALSE(a.IsSet());
}

TEST(FakeClockTest, InfiniteWaitOutlastsAnyAdvance) {
  FakeClock clock;
  Event e(/*manualReset=*/true);
  auto waiter = std::async(std::launch::async, [&] { return clock.Wait(&e, nullptr, kInfinite); });
  ASSERT_TRUE(clock.WaitForWaiters(1));
  for (int i = 0; i < 3; ++i) clock.Advance(kInfinite);
  EXPECT_EQ(clock.Waiters(), 1u);
  e.Set();
  EXPECT_EQ(waiter.get(), WaitResult::Object0);
}

TEST(FakeClockTest, AdvanceReleasesOnlyTheDeadlinesItReaches) {
  FakeClock clock(5'000);
  Event never(/*manualReset=*/false);
  Event stop(/*manualReset=*/true);
  auto sleeper = std::async(std::launch::async, [&] { clock.Sleep(100); });
  auto timed = std::async(std::launch::async, [&] { return clock.Wait(&never, nullptr, 200); });
  auto untimed =
      std::async(std::launch::async, [&] { return clock.Wait(&stop, nullptr, kInfinite); });
  ASSERT_TRUE(clock.WaitForWaiters(3));

  clock.Advance(99);
  EXPECT_EQ(clock.Waiters(), 3u);
  clock.Advance(51);
  EXPECT_EQ(clock.Waiters(), 2u);
  clock.Advance(50);
  EXPECT_EQ(clock.Waiters(), 1u);
  stop.Set();
  EXPECT_EQ(clock.Waiters(), 0u);

  sleeper.get();
  EXPECT_EQ(timed.get(), WaitResult::Timeout);
  EXPECT_EQ(untimed.get(), WaitResult::Object0);
}

// The way a worker's test drives it: each step waits for the worker to block again, so a
// released wait must not be counted as the next one.
TEST(FakeClockTest, StepsAWorkerLoopDeterministically) {
  FakeClock clock;
  Event data(/*manualReset=*/false);
  Event abort(/*manualReset=*/true);
  auto worker = std::async(std::launch::async, [&] {
    std::vector<WaitResult> seen;
    do {
      seen.push_back(clock.Wait(&data, &abort, 1000));
    } while (seen.back() != WaitResult::Object1);
    return seen;
  });

  ASSERT_TRUE(clock.WaitForWaiters(1));
  clock.Advance(1000);
  ASSERT_TRUE(clock.WaitForWaiters(1));
  clock.Advance(600);
  data.Set();
  ASSERT_TRUE(clock.WaitForWaiters(1));
  clock.Advance(600);  // 1200 ms since the previous wait began, 600 since this one
  EXPECT_EQ(clock.Waiters(), 1u);
  abort.Set();

  ASSERT_TRUE(Finished(worker));
  EXPECT_EQ(worker.get(), (std::vector<WaitResult>{WaitResult::Timeout, WaitResult::Object0,
                                                   WaitResult::Object1}));
}

TEST(FakeClockTest, WaitForWaitersGivesUpInRealTime) {
  FakeClock clock;
  EXPECT_FALSE(clock.WaitForWaiters(1, 20));
  EXPECT_TRUE(clock.WaitForWaiters(0, 20));
}

}  // namespace
}  // namespace tarvo
