// Runs the real tarvo-devsim binary on a pseudo-terminal, as the server's tests will.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/devsim/HexText.h"
#include "tools/devsim/UniqueFd.h"

extern char** environ;

namespace tarvo::devsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One tarvo-devsim process with its stdout; stopped with SIGTERM (SIGKILL if it lingers).
class DevSim {
 public:
  explicit DevSim(std::vector<std::string> args) {
    args.insert(args.begin(), DEVSIM_PATH);
    args.push_back("--exit-after-ms");
    args.push_back("20000");  // the safety net if the test dies before the destructor
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    out_.Reset(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, DEVSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  DevSim(const DevSim&) = delete;
  DevSim& operator=(const DevSim&) = delete;
  ~DevSim() {
    if (pid_ > 0) Stop();
  }

  // The first stdout line, or "" when none comes within a few seconds.
  std::string ReadLine() {
    std::string line;
    auto until = Clock::now() + milliseconds(5000);
    while (Clock::now() < until) {
      pollfd p{out_.Get(), POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(out_.Get(), &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  // SIGTERM, then the exit status; -1 when it had to be killed.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = 0;
    auto until = Clock::now() + milliseconds(5000);
    while (Clock::now() < until) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
  }

  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  UniqueFd out_;
};

UniqueFd OpenRaw(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (fd.Valid()) {
    termios t{};
    tcgetattr(fd.Get(), &t);
    cfmakeraw(&t);
    tcsetattr(fd.Get(), TCSANOW, &t);
  }
  return fd;
}

// Writes request and collects bytes until want of them came or the line stayed quiet a while.
std::vector<std::uint8_t> Exchange(int fd, const std::vector<std::uint8_t>& request,
                                   std::size_t want, int quietMs = 3000) {
  EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  std::vector<std::uint8_t> got;
  auto until = Clock::now() + milliseconds(quietMs);
  while (got.size() < want && Clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    std::uint8_t buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  return got;
}

std::vector<std::uint8_t> Chars(const std::string& s) { return {s.begin(), s.end()}; }

std::string PtyPath(DevSim& sim) {
  std::string line = sim.ReadLine();
  EXPECT_EQ(line.rfind("PTY /dev/", 0), 0u) << line;
  return line.size() > 4 ? line.substr(4) : "";
}

struct PtyRun {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::uint8_t> request;
  std::vector<std::uint8_t> answer;
  int minMs = 0;  // a lower bound only: the answer may never come sooner than the pauses
};

void PrintTo(const PtyRun& r, std::ostream* os) { *os << r.name; }

class DevSimProcess : public ::testing::TestWithParam<PtyRun> {};

TEST_P(DevSimProcess, AnswersOnItsPty) {
  const PtyRun& r = GetParam();
  DevSim sim(r.args);
  ASSERT_TRUE(sim.Started());
  std::string path = PtyPath(sim);
  ASSERT_FALSE(path.empty());
  UniqueFd pty = OpenRaw(path);
  ASSERT_TRUE(pty.Valid()) << path;
  auto sent = Clock::now();
  auto got = Exchange(pty.Get(), r.request, r.answer.size());
  EXPECT_GE(Clock::now() - sent, milliseconds(r.minMs));
  if (r.args.size() > 1 && r.args[1] == "ascii")
    EXPECT_EQ(std::string(got.begin(), got.end()), std::string(r.answer.begin(), r.answer.end()));
  else
    EXPECT_EQ(ToHexText(got), ToHexText(r.answer));
  EXPECT_EQ(sim.Stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DevSimProcess,
    ::testing::Values(
        PtyRun{"Rtu", {}, FromHexText("01 03 00 00 00 02 C4 0B"),
            FromHexText("01 03 04 00 01 00 02 2A 32")},
        PtyRun{"Ascii", {"--mode", "ascii"}, Chars(":010300000002FA\r\n"),
            Chars(":01030400010002F5\r\n")},
        PtyRun{"ExceptionSwitch", {"--exception", "2"}, FromHexText("01 03 00 00 00 01 84 0A"),
            FromHexText("01 83 02 C0 F1")},
        PtyRun{"OtherAddressAndSplitAnswer", {"--addr", "3", "--split-pause", "100", "--delay", "50"},
            FromHexText("03 07 40 82"), FromHexText("03 07 6D 42 1D"), 150}),
    [](const ::testing::TestParamInfo<PtyRun>& info) { return info.param.name; });

TEST(DevSimProcessLine, NoiseThenRequestsThenSilenceForBadOnes) {
  DevSim sim({});
  ASSERT_TRUE(sim.Started());
  UniqueFd pty = OpenRaw(PtyPath(sim));
  ASSERT_TRUE(pty.Valid());
  // Noise is dropped after the quiet gap; a bad CRC gets nothing; then a good request works.
  EXPECT_TRUE(Exchange(pty.Get(), FromHexText("55 AA 13"), 1, 300).empty());
  EXPECT_TRUE(Exchange(pty.Get(), FromHexText("01 03 00 00 00 01 84 0B"), 1, 300).empty());
  EXPECT_EQ(ToHexText(Exchange(pty.Get(), FromHexText("01 06 00 05 12 34 94 BC"), 8)),
            "01 06 00 05 12 34 94 BC");
  EXPECT_EQ(ToHexText(Exchange(pty.Get(), FromHexText("01 03 00 05 00 01 94 0B"), 7)),
            "01 03 02 12 34 B5 33");
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(DevSimProcessLine, SymbolicLinkLivesWithTheProcess) {
  std::string link = "/tmp/devsim_link_" + std::to_string(getpid());
  unlink(link.c_str());
  ASSERT_EQ(symlink("/nonexistent", link.c_str()), 0);  // an old link to replace
  DevSim sim({"--link", link});
  ASSERT_TRUE(sim.Started());
  std::string path = PtyPath(sim);
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), path);
  UniqueFd pty = OpenRaw(link);
  ASSERT_TRUE(pty.Valid());
  EXPECT_EQ(ToHexText(Exchange(pty.Get(), FromHexText("01 11 C0 2C"), 17)).substr(0, 8), "01 11 0C");
  EXPECT_EQ(sim.Stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(DevSimProcessLine, StopsByItselfAndRefusesBadOptions) {
  std::vector<std::string> args = {DEVSIM_PATH, "--exit-after-ms", "300"};
  auto runStatus = [](std::vector<std::string> a) {
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, DEVSIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -2;
    int status = 0;
    auto until = Clock::now() + milliseconds(10000);
    while (Clock::now() < until) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  };
  EXPECT_EQ(runStatus(args), 0);
  EXPECT_EQ(runStatus({DEVSIM_PATH, "--mode", "tcp"}), 2);
  EXPECT_EQ(runStatus({DEVSIM_PATH, "--map", "/nonexistent/map", "--exit-after-ms", "5000"}), 1);
}

}  // namespace
}  // namespace tarvo::devsim
