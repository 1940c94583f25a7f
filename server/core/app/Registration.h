#pragma once
// REGSERVER and UNREGSERVER: the server's activation file and type library on a bus.

#include <string>
#include <vector>

namespace tarvo {

struct TRegistration {
  std::string ServiceFile;  // the bus starts the server from it
  std::string TypeLibFile;  // the introspection XML of the type library
  std::string PolicyFile;   // system bus only: who may own and call the service
};

// The files for the session bus (under dbusDir, default $XDG_DATA_HOME/dbus-1 or
// ~/.local/share/dbus-1) or the system bus (under dbusDir, default /usr/share/dbus-1).
TRegistration RegistrationFiles(bool systemBus, const std::string& dbusDir);

// Writes the files; returns one line for each thing done. std::runtime_error naming the file
// when one cannot be written.
std::vector<std::string> RegisterServer(const TRegistration& reg, bool systemBus,
                                        const std::string& exePath, const std::string& typeLib);
// Removes them; a file that is not there is reported, not an error.
std::vector<std::string> UnregisterServer(const TRegistration& reg);

}  // namespace tarvo
