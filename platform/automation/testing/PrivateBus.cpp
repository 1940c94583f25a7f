#include "platform/automation/testing/PrivateBus.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarvo::automation::testing {

PrivateBus::PrivateBus() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-bus-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a folder for the test bus");
  dir_ = tmpl;
  servicesDir_ = dir_ + "/services";
  std::filesystem::create_directories(servicesDir_);
  const std::string config = dir_ + "/bus.conf";
  {
    std::ofstream f(config);
    f << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:dir=" << dir_ << "</listen>\n"
         "  <servicedir>" << servicesDir_ << "</servicedir>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
  }
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  // The daemon's own complaints (an fd limit it may not raise) go to its folder, not the test log.
  const std::string log = dir_ + "/daemon.log";
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const std::string cfgArg = "--config-file=" + config;
  const std::string printArg = "--print-address=" + std::to_string(fds[1]);
  char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(cfgArg.c_str()),
                  const_cast<char*>("--nofork"), const_cast<char*>("--nopidfile"),
                  const_cast<char*>(printArg.c_str()), nullptr};
  const int rc = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    std::filesystem::remove_all(dir_);
    throw std::runtime_error(std::string("cannot start dbus-daemon: ") + std::strerror(rc));
  }
  std::string line;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  close(fds[0]);
  if (line.empty()) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("dbus-daemon gave no address");
  }
  address_ = line;
}

PrivateBus::~PrivateBus() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void PrivateBus::Export() const {
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  setenv("TARVO_BUS", address_.c_str(), 1);
}

void PrivateBus::ReloadConfig() const {
  if (pid_ > 0) kill(pid_, SIGHUP);
}

}  // namespace tarvo::automation::testing
