#include "server/core/LogKeeper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/variant/OleDate.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kLongMs = 10'000;  // "forever" that still fails rather than hangs

const std::string kStart = "*************** Старт сервера ******************";
const std::string kClose = "*************** Закрытие сервера ***************";

double Ole(int y, int mo, int d, int h, int mi, int s, int ms) {
  DateTimeParts p;
  p.year = y;
  p.month = mo;
  p.day = d;
  p.hour = h;
  p.minute = mi;
  p.second = s;
  p.msec = ms;
  return EncodeOleDate(p);
}

const double kNow = Ole(2026, 12, 11, 10, 20, 30, 456);
const std::string kStamp = "11.12.2026 10:20:30.456\t";
const std::string kDayFile = "11Dec2026.log";

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(text.substr(from, at - from));
  EXPECT_EQ(from, text.size()) << "text after the last CR LF";
  return lines;
}

// A fresh folder per test, removed afterwards.
class LogKeeperTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "logkeeper_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  TLogKeeperOptions Options(fs::path logDir, bool keepDebug = false) {
    TLogKeeperOptions o;
    o.LogDir = logDir.string();
    o.NoDebugMessages = !keepDebug;
    o.Now = [] { return kNow; };
    return o;
  }

  fs::path dir_;
};

struct LineCase {
  const char* name;
  std::function<void(TLogKeeper&)> add;
  std::string line;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

const std::uint8_t kFrame[] = {0x01, 0x03, 0x02, 0x00, 0x0A, 0x38, 0x43};

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

const LineCase kLineCases[] = {
    {"ReceivedFrame", [](TLogKeeper& k) { k.AddTransportData(1234, kFrame, 7, 0, true); },
     kStamp + "[1234]\tIn\tOK\t01 03 02 00 0A 38 43 \r\n"},
    {"FailedReceiveKeepsNoBytes",
     [](TLogKeeper& k) { k.AddTransportData(1234, kFrame, 7, 0, false); },
     kStamp + "[1234]\tIn\tErr\t\r\n"},
    {"SentFrame", [](TLogKeeper& k) { k.AddTransportData(-7, kFrame, 2, 1, true); },
     kStamp + "[-7]\tOut\tOK\t01 03 \r\n"},
    {"OverlongFrameClampedToTheBuffer",
     [](TLogKeeper& k) {
       std::vector<std::uint8_t> big(kTaskBufSize + 100, 0xAB);
       k.AddTransportData(1, big.data(), static_cast<std::int32_t>(big.size()), 1, true);
     },
     kStamp + "[1]\tOut\tOK\t" + Repeat("AB ", kTaskBufSize) + "\r\n"},
    {"NegativeCountIsEmpty", [](TLogKeeper& k) { k.AddTransportData(1, kFrame, -3, 0, true); },
     kStamp + "[1]\tIn\tOK\t\r\n"},
    {"ReadyFrameWithBadBufsizeStopsAtTheBuffer",
     [](TLogKeeper& k) {
       auto t = std::make_unique<TTransportDataLogTask>();
       t->DateStamp = kNow;
       t->TransportID = 2;
       t->Result = true;
       t->Buf.fill(0x5A);
       t->Bufsize = 100000;
       k.AddTask(std::move(t));
     },
     kStamp + "[2]\tIn\tOK\t" + Repeat("5A ", kTaskBufSize) + "\r\n"},
    {"Action", [](TLogKeeper& k) { k.AddTask("Создан канал RS485 COM1"); },
     kStamp + "Создан канал RS485 COM1\r\n"},
    {"Debug", [](TLogKeeper& k) { k.AddDebugTask("ServerFactory ftFreeMaster enter"); },
     kStamp + "Debug: ServerFactory ftFreeMaster enter\r\n"},
    {"TransportStateIsTheStampAlone",
     [](TLogKeeper& k) {
       auto t = std::make_unique<TTransportLogTask>();
       t->DateStamp = kNow;
       t->TransportID = 5;
       k.AddTask(std::move(t));
     },
     kStamp + "\r\n"},
    {"ReadyRecordKeepsItsOwnStamp",
     [](TLogKeeper& k) {
       auto t = std::make_unique<TSimpleLogTask>();
       t->DateStamp = Ole(2000, 1, 2, 3, 4, 5, 6);
       t->Text = "x";
       k.AddTask(std::move(t));
     },
     "02.01.2000 03:04:05.006\tx\r\n"},
};

class LogKeeperLineTest : public LogKeeperTest, public testing::WithParamInterface<LineCase> {};

TEST_P(LogKeeperLineTest, WritesTheLineByteForByte) {
  const fs::path logDir = dir_ / "missing" / "parents" / "Logs";
  TLogKeeper keeper(Options(logDir, /*keepDebug=*/true));
  GetParam().add(keeper);
  ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  EXPECT_EQ(ReadFile(logDir / kDayFile), kStamp + kStart + "\r\n" + GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(LogKeeper, LogKeeperLineTest, testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogKeeperTest, StartAndCloseLinesFrameTheSession) {
  { TLogKeeper keeper(Options(dir_)); }
  EXPECT_EQ(ReadFile(dir_ / kDayFile), kStamp + kStart + "\r\n" + kStamp + kClose + "\r\n");
}

TEST(LogKeeperNames, BufToStr) {
  const std::uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
  EXPECT_EQ(TLogKeeper::BufToStr(bytes, 4), "00 0F A5 FF ");
  EXPECT_EQ(TLogKeeper::BufToStr(bytes, 0), "");
  EXPECT_EQ(TLogKeeper::BufToStr(bytes, -1), "");
  EXPECT_EQ(TLogKeeper::BufToStr(nullptr, 4), "");
}

TEST(LogKeeperNames, DayFileNameInTheCLocale) {
  struct Case {
    std::string dir;
    double date;
    std::string name;
  } cases[] = {
      {"/var/log/srv", Ole(2026, 12, 11, 10, 20, 30, 456), "/var/log/srv/11Dec2026.log"},
      {"/var/log/srv/", Ole(2027, 1, 1, 0, 0, 0, 0), "/var/log/srv/01Jan2027.log"},
      {"Logs", Ole(2024, 2, 29, 23, 59, 59, 999), "Logs/29Feb2024.log"},
      {"", Ole(987, 6, 5, 12, 0, 0, 0), "05Jun0987.log"},
  };
  for (const Case& c : cases) EXPECT_EQ(TLogKeeper::LogFileName(c.dir, c.date), c.name);
}

TEST_F(LogKeeperTest, DebugLinesDroppedByDefault) {
  TLogKeeper keeper(Options(dir_));
  EXPECT_TRUE(keeper.NoDebugMessages());
  keeper.AddDebugTask("dropped at the door");
  auto readyDebug = std::make_unique<TSimpleLogTask>();
  readyDebug->DateStamp = kNow;
  readyDebug->Debug = true;
  readyDebug->Text = "dropped by the writer";
  keeper.AddTask(std::move(readyDebug));
  keeper.AddTask("Действие");
  keeper.AddTransportData(3, kFrame, 1, 1, true);
  ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  EXPECT_EQ(Lines(ReadFile(dir_ / kDayFile)),
            (std::vector<std::string>{kStamp + kStart, kStamp + "Действие",
                                      kStamp + "[3]\tOut\tOK\t01 "}));
}

TEST_F(LogKeeperTest, KeepLogFalseCreatesNoFileAndNoFolder) {
  const fs::path logDir = dir_ / "a" / "Logs";
  TLogKeeperOptions o = Options(logDir, /*keepDebug=*/true);
  o.KeepLog = false;
  {
    TLogKeeper keeper(std::move(o));
    EXPECT_FALSE(keeper.KeepLog());
    keeper.AddTask("action");
    keeper.AddDebugTask("debug");
    keeper.AddTransportData(1, kFrame, 7, 0, true);
    auto ready = std::make_unique<TSimpleLogTask>();
    ready->Text = "ready";
    keeper.AddTask(std::move(ready));
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  }
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}

// The writer blocks inside Now while the test queues records stamped before midnight, then
// learns the day has turned.
TEST_F(LogKeeperTest, RecordsWrittenAfterMidnightGoToTheNewDay) {
  std::atomic<double> clock{Ole(2026, 12, 31, 23, 59, 59, 900)};
  Event writerMayAsk(/*manualReset=*/true, /*initiallySet=*/true);
  const std::thread::id producer = std::this_thread::get_id();
  TLogKeeperOptions o = Options(dir_);
  o.Now = [&] {
    if (std::this_thread::get_id() != producer) {
      EXPECT_TRUE(writerMayAsk.Wait(kLongMs));
    }
    return clock.load();
  };
  {
    TLogKeeper keeper(std::move(o));
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
    writerMayAsk.Reset();
    keeper.AddTask("first");
    keeper.AddTask("second");
    EXPECT_FALSE(keeper.WaitIdle(0));
    clock = Ole(2027, 1, 1, 0, 0, 0, 100);
    writerMayAsk.Set();
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  }
  EXPECT_EQ(Lines(ReadFile(dir_ / "31Dec2026.log")),
            std::vector<std::string>{"31.12.2026 23:59:59.900\t" + kStart});
  EXPECT_EQ(
      Lines(ReadFile(dir_ / "01Jan2027.log")),
      (std::vector<std::string>{"31.12.2026 23:59:59.900\tfirst", "31.12.2026 23:59:59.900\tsecond",
                                "01.01.2027 00:00:00.100\t" + kClose}));
}

TEST_F(LogKeeperTest, EveryProducerThreadKeepsItsOrder) {
  constexpr int kThreads = 4, kEach = 250;
  {
    TLogKeeper keeper(Options(dir_, /*keepDebug=*/true));
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
      producers.emplace_back([t] {
        for (int i = 0; i < kEach; ++i) {
          const std::string text = std::to_string(t) + " " + std::to_string(i);
          if (i % 2)
            LogAction(text);
          else
            LogDebug(text);
        }
      });
    for (auto& p : producers) p.join();
  }
  const std::vector<std::string> lines = Lines(ReadFile(dir_ / kDayFile));
  ASSERT_EQ(lines.size(), 2u + kThreads * kEach);
  EXPECT_EQ(lines.front(), kStamp + kStart);
  EXPECT_EQ(lines.back(), kStamp + kClose);
  std::map<int, int> next;  // thread -> expected record number
  for (std::size_t n = 1; n + 1 < lines.size(); ++n) {
    std::string text = lines[n].substr(kStamp.size());
    if (text.rfind("Debug: ", 0) == 0) text.erase(0, 7);
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d %d", &t, &i), 2) << lines[n];
    EXPECT_EQ(i, next[t]++) << "thread " << t;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEach) << "thread " << t;
}

// The obstacle either blocks the folder (its path goes through a regular file) or the day's file
// (a folder has its name).
struct BlockCase {
  const char* name;
  const char* logDir;    // relative to the test folder
  const char* obstacle;  // relative to the test folder
  bool obstacleIsFolder;
  const char* reported;  // the path the message names, relative to the test folder
};

void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.name;
}

class LogKeeperBlockedTest : public LogKeeperTest, public testing::WithParamInterface<BlockCase> {
 protected:
  void Block() {
    const fs::path p = dir_ / GetParam().obstacle;
    fs::remove_all(p);
    if (GetParam().obstacleIsFolder) {
      fs::create_directories(p);
    } else {
      std::ofstream(p) << "not a folder";
    }
  }
  void Unblock() { fs::remove_all(dir_ / GetParam().obstacle); }
};

TEST_P(LogKeeperBlockedTest, ReportsOncePerOutageAndDropsTheRecords) {
  const BlockCase& c = GetParam();
  const fs::path logDir = dir_ / c.logDir;
  const std::string reported = (dir_ / c.reported).string() + ": ";
  const std::string tail = "; log records are dropped until it can be written\n";
  Block();
  testing::internal::CaptureStderr();
  std::string first, afterRecovery, rest;
  {
    TLogKeeper keeper(Options(logDir));
    keeper.AddTask("lost 1");
    keeper.AddTransportData(1, kFrame, 7, 0, true);
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));  // a spinning writer never gets idle
    first = testing::internal::GetCapturedStderr();

    testing::internal::CaptureStderr();
    Unblock();
    keeper.AddTask("written");
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
    afterRecovery = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Lines(ReadFile(logDir / kDayFile)), std::vector<std::string>{kStamp + "written"});

    testing::internal::CaptureStderr();
    Block();
    keeper.AddTask("lost 2");
    keeper.AddTask("lost 3");
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  }
  rest = testing::internal::GetCapturedStderr();

  EXPECT_EQ(first.rfind("TarvoSrv: cannot ", 0), 0u) << first;
  EXPECT_NE(first.find(reported), std::string::npos) << first;
  EXPECT_EQ(first.find('\n'), first.size() - 1) << "one message: " << first;
  EXPECT_EQ(first.substr(first.size() - std::min(first.size(), tail.size())), tail);
  EXPECT_EQ(afterRecovery, "");
  EXPECT_EQ(rest, first) << "the second outage is reported again, once";
  EXPECT_FALSE(fs::is_regular_file(logDir / kDayFile)) << "lost records were written";
}

INSTANTIATE_TEST_SUITE_P(LogKeeper, LogKeeperBlockedTest,
                         testing::Values(BlockCase{"FolderThroughAFile", "file/Logs", "file", false,
                                                   "file/Logs"},
                                         BlockCase{"DayFileIsAFolder", "Logs", "Logs/11Dec2026.log",
                                                   true, "Logs/11Dec2026.log"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogKeeperTest, InstanceLivesWithTheKeeper) {
  EXPECT_EQ(TLogKeeper::Instance(), nullptr);
  LogAction("nobody listens");
  LogDebug("nobody listens");
  LogTransportData(9, kFrame, 2, 0, true);
  {
    TLogKeeper keeper(Options(dir_, /*keepDebug=*/true));
    EXPECT_EQ(TLogKeeper::Instance(), &keeper);
    LogAction("действие");
    LogDebug("debug");
    LogTransportData(9, kFrame, 2, 0, true);
  }
  EXPECT_EQ(TLogKeeper::Instance(), nullptr);
  LogAction("after the close");
  EXPECT_EQ(Lines(ReadFile(dir_ / kDayFile)),
            (std::vector<std::string>{kStamp + kStart, kStamp + "действие", kStamp + "Debug: debug",
                                      kStamp + "[9]\tIn\tOK\t01 03 ", kStamp + kClose}));
}

TEST_F(LogKeeperTest, SecondKeeperRaisesAndLeavesTheFirstInCharge) {
  TLogKeeper first(Options(dir_ / "first"));
  EXPECT_THROW(TLogKeeper second(Options(dir_ / "second")), std::logic_error);
  EXPECT_EQ(TLogKeeper::Instance(), &first);
  LogAction("still here");
  ASSERT_TRUE(first.WaitIdle(kLongMs));
  EXPECT_EQ(Lines(ReadFile(dir_ / "first" / kDayFile)),
            (std::vector<std::string>{kStamp + kStart, kStamp + "still here"}));
  EXPECT_FALSE(fs::exists(dir_ / "second"));
}

thread_local bool tHeldInNow = false;

// A producer is held inside LogAction (in the keeper's clock) while another thread destroys the
// keeper: the destruction must wait for it, and its line comes before the closing one.
TEST_F(LogKeeperTest, DestructionWaitsForAProducerInsideLogAction) {
  Event inside(/*manualReset=*/true), release(/*manualReset=*/true);
  TLogKeeperOptions o = Options(dir_);
  o.Now = [&] {
    if (tHeldInNow) {
      inside.Set();
      EXPECT_TRUE(release.Wait(kLongMs));
    }
    return kNow;
  };
  auto keeper = std::make_unique<TLogKeeper>(std::move(o));
  std::thread producer([] {
    tHeldInNow = true;
    LogAction("last words");
  });
  ASSERT_TRUE(inside.Wait(kLongMs));
  auto destroyed = std::async(std::launch::async, [&] { keeper.reset(); });
  // Can only pass wrongly (a slow faulty destructor), never fail wrongly.
  EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  release.Set();
  destroyed.get();
  producer.join();
  EXPECT_EQ(Lines(ReadFile(dir_ / kDayFile)),
            (std::vector<std::string>{kStamp + kStart, kStamp + "last words", kStamp + kClose}));
}

// Producers log without knowing whether a keeper runs; keepers come and go under them. The
// sanitizer builds turn a producer touching a destroyed keeper into a failure.
TEST_F(LogKeeperTest, ProducersRaceKeepersComingAndGoing) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> producers;
  for (int t = 0; t < 2; ++t)
    producers.emplace_back([&] {
      for (int i = 0; i < 2000 && !stop; ++i) {
        LogAction("action");
        std::this_thread::yield();
      }
    });
  for (int round = 0; round < 20; ++round) {
    TLogKeeper keeper(Options(dir_));
  }
  stop = true;
  for (auto& p : producers) p.join();
  EXPECT_EQ(TLogKeeper::Instance(), nullptr);
  // Every session is closed before the next one starts.
  int open = 0;
  for (const std::string& line : Lines(ReadFile(dir_ / kDayFile))) {
    if (line == kStamp + kStart) {
      EXPECT_EQ(open++, 0);
    } else if (line == kStamp + kClose) {
      EXPECT_EQ(open--, 1);
    }
  }
  EXPECT_EQ(open, 0);
}

// The default clock is the local wall clock: the day's file is today's (either side of a
// midnight passing during the test).
TEST_F(LogKeeperTest, DefaultClockNamesTodaysFile) {
  auto today = [] {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char name[32];
    std::strftime(name, sizeof name, "%d%b%Y.log", &tm);
    return std::string(name);
  };
  const std::string before = today();
  {
    TLogKeeperOptions o;
    o.LogDir = dir_.string();
    TLogKeeper keeper(std::move(o));
    ASSERT_TRUE(keeper.WaitIdle(kLongMs));
  }
  const std::string after = today();
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir_)) files.push_back(e.path().filename().string());
  ASSERT_FALSE(files.empty());
  EXPECT_LE(files.size(), before == after ? 1u : 2u);
  for (const std::string& f : files) EXPECT_TRUE(f == before || f == after) << f;
}

}  // namespace
}  // namespace tarvo
