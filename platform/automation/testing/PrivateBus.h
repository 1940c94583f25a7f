#pragma once
// A dbus-daemon of a test's own: a private bus with its own folder of activatable services, so
// tests never touch the user's session bus and stop everything they start.

#include <sys/types.h>

#include <string>

namespace tarvo::automation::testing {

class PrivateBus {
 public:
  // Starts the daemon; it inherits this process's environment, and so do the services it starts.
  // std::runtime_error when dbus-daemon cannot be started.
  PrivateBus();
  ~PrivateBus();  // stops the daemon and removes its folder
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& Address() const { return address_; }
  // The folder the daemon looks in for service files.
  const std::string& ServicesDir() const { return servicesDir_; }
  const std::string& Dir() const { return dir_; }
  // Sets DBUS_SESSION_BUS_ADDRESS and TARVO_BUS to this bus for the process and its children.
  void Export() const;
  // Makes the daemon read its service files again (after one was added).
  void ReloadConfig() const;

 private:
  std::string dir_, servicesDir_, address_;
  pid_t pid_ = -1;
};

}  // namespace tarvo::automation::testing
