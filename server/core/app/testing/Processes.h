#pragma once
// Processes of the end-to-end tests and benchmarks: the real server registered on a private bus,
// command-line clients whose output is read line by line, and the pseudo-terminal instrument.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvo::testing {

// A child process with its standard output on a pipe.
class Child {
 public:
  Child(const std::string& program, std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      throw std::runtime_error("cannot start " + program);
    }
    out_ = fds[0];
  }
  ~Child() {
    Kill(SIGKILL);
    Wait(5000);
    if (out_ >= 0) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of output, or false after timeoutMs or at the end of the output.
  bool ReadLine(std::string& line, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto nl = buf_.find('\n');
      if (nl != std::string::npos) {
        line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buf_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  void Kill(int sig) {
    if (pid_ > 0 && status_ < 0) kill(pid_, sig);
  }
  // The exit status (or 128 + signal), or -1 while it runs after timeoutMs.
  int Wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (status_ < 0) {
      int st = 0;
      const pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      else if (std::chrono::steady_clock::now() >= end) break;
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string buf_;
};

// Runs a program to its end; its exit status.
inline int RunToEnd(const std::string& program, std::vector<std::string> args, std::string* out = nullptr) {
  Child c(program, std::move(args));
  std::string line, all;
  while (c.ReadLine(line, 20000)) all += line + "\n";
  if (out) *out = all;
  return c.Wait(20000);
}

// True while some process holds the serial device (the server opens it exclusively and locks it).
inline bool DeviceInUse(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return true;
  const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
  if (!locked) flock(fd, LOCK_UN);
  close(fd);
  return locked;
}

inline bool ProcessGone(pid_t pid) { return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace tarvo::testing
