#pragma once
// Test and benchmark helper: a tarvo-devsim process on a new pseudo-terminal.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvo::testing {

// A tarvo-devsim process on a new pseudo-terminal; killed when destroyed.
class Devsim {
 public:
  explicit Devsim(std::vector<std::string> args, const char* program = DEVSIM_PATH) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      args.insert(args.begin(), {program, "--exit-after-ms", "600000"});
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[512] = {};
    if (!f || !fgets(line, sizeof line, f)) throw std::runtime_error("devsim did not start");
    fclose(f);
    std::string s(line);
    if (s.rfind("PTY ", 0) != 0) throw std::runtime_error("devsim said: " + s);
    path_ = s.substr(4, s.find_last_not_of("\r\n") - 3);
  }
  ~Devsim() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace tarvo::testing
