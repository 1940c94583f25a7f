#include "platform/sync/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <thread>

#include "platform/sync/FakeClock.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;

// Which event a wait takes when some are already set, for every clock.
struct PickCase {
  const char* name;
  bool aManual, aSet;
  bool bManual, bSet;
  bool bNull;
  WaitResult expected;
  bool aSetAfter, bSetAfter;
};

constexpr WaitResult k0 = WaitResult::Object0;
constexpr WaitResult k1 = WaitResult::Object1;
constexpr WaitResult kTo = WaitResult::Timeout;

const PickCase kPickCases[] = {
    {"NoneSet", false, false, false, false, false, kTo, false, false},
    {"BothAutoFirstWinsSecondKept", false, true, false, true, false, k0, false, true},
    {"OnlySecondAuto", false, false, false, true, false, k1, false, false},
    {"FirstManualStaysSet", true, true, false, true, false, k0, true, true},
    {"SecondManualStaysSet", false, false, true, true, false, k1, false, true},
    {"SecondNullFirstSet", false, true, false, false, true, k0, false, false},
    {"SecondNullNoneSet", false, false, false, false, true, kTo, false, false},
};

struct ClockKind {
  const char* name;
  Clock& (*get)();
};

Clock& Fake() {
  static FakeClock clock(1'000);
  return clock;
}

const ClockKind kClocks[] = {{"System", &SystemClock}, {"Fake", &Fake}};

void PrintTo(const PickCase& c, std::ostream* os) {
  *os << c.name;
}
void PrintTo(const ClockKind& k, std::ostream* os) {
  *os << k.name;
}

class ClockPickTest : public testing::TestWithParam<std::tuple<ClockKind, PickCase>> {};

TEST_P(ClockPickTest, TakesFirstSetInArgumentOrderAndConsumesOnlyIt) {
  const auto& [kind, c] = GetParam();
  // A poll, and a long wait that must not block when an event is already set.
  for (uint32_t timeout : {0u, kInfinite}) {
    if (c.expected == WaitResult::Timeout && timeout != 0) continue;
    SCOPED_TRACE(timeout);
    Event a(c.aManual, c.aSet);
    Event b(c.bManual, c.bSet);
    EXPECT_EQ(kind.get().Wait(&a, c.bNull ? nullptr : &b, timeout), c.expected);
    EXPECT_EQ(a.IsSet(), c.aSetAfter);
    EXPECT_EQ(b.IsSet(), c.bSetAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(Clock, ClockPickTest,
                         testing::Combine(testing::ValuesIn(kClocks),
                                          testing::ValuesIn(kPickCases)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  std::get<1>(info.param).name;
                         });

TEST(SystemClockTest, SetWakesARealTimeWaiterOnTheSecondEvent) {
  Event a(/*manualReset=*/false);
  Event b(/*manualReset=*/false);
  auto waiter = std::async(std::launch::async, [&] { return SystemClock().Wait(&a, &b, 10'000); });
  std::this_thread::sleep_for(20ms);
  b.Set();
  EXPECT_EQ(waiter.get(), WaitResult::Object1);
  EXPECT_FALSE(b.IsSet());
  EXPECT_FALSE(a.IsSet());
}

TEST(SystemClockTest, TwoEventWaitTimesOutInRealTime) {
  Event a(/*manualReset=*/true);
  Event b(/*manualReset=*/false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SystemClock().Wait(&a, &b, 50), WaitResult::Timeout);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 50ms);
  EXPECT_LT(elapsed, 5s);
}

TEST(SystemClockTest, SleepAndTicksFollowRealTime) {
  const uint64_t startMs = SystemClock().NowMs();
  const uint32_t startTick = GetTickCount();
  EXPECT_LT(static_cast<uint32_t>(startTick - static_cast<uint32_t>(startMs)), 5'000u)
      << "ticks and NowMs share one time base";
  SystemClock().Sleep(30);
  const uint64_t elapsedMs = SystemClock().NowMs() - startMs;
  EXPECT_GE(elapsedMs, 29u);  // whole milliseconds may round the start up
  EXPECT_LT(elapsedMs, 5'000u);
  EXPECT_GE(static_cast<uint32_t>(GetTickCount() - startTick), 29u);
}

}  // namespace
}  // namespace tarvo
