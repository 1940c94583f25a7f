#include "server/core/app/Registration.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/automation/Bus.h"

namespace fs = std::filesystem;

namespace tarvo {

namespace {

std::string DefaultSessionDir() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/dbus-1";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/share/dbus-1";
}

void WriteFile(const std::string& path, const std::string& text) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f.flush()) throw std::runtime_error("cannot write " + path);
  }
  fs::rename(tmp, path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace

TRegistration RegistrationFiles(bool systemBus, const std::string& dbusDir) {
  const std::string base = !dbusDir.empty() ? dbusDir
                           : systemBus     ? std::string("/usr/share/dbus-1")
                                           : DefaultSessionDir();
  const std::string name = automation::kServiceName;
  TRegistration r;
  r.ServiceFile = base + (systemBus ? "/system-services/" : "/services/") + name + ".service";
  r.TypeLibFile = base + "/interfaces/" + name + ".xml";
  if (systemBus) r.PolicyFile = base + "/system.d/" + name + ".conf";
  return r;
}

std::vector<std::string> RegisterServer(const TRegistration& reg, bool systemBus,
                                        const std::string& exePath, const std::string& typeLib) {
  std::vector<std::string> done;
  std::string service = "[D-BUS Service]\nName=" + std::string(automation::kServiceName) +
                        "\nExec=" + exePath + " AUTOMATION" + (systemBus ? " --system" : "") + "\n";
  if (systemBus) service += "User=root\n";
  WriteFile(reg.ServiceFile, service);
  done.push_back("activation file " + reg.ServiceFile);
  WriteFile(reg.TypeLibFile, typeLib);
  done.push_back("type library " + reg.TypeLibFile);
  if (!reg.PolicyFile.empty()) {
    const std::string name = automation::kServiceName;
    WriteFile(reg.PolicyFile,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <policy user=\"root\">\n    <allow own=\"" + name + "\"/>\n  </policy>\n"
              "  <policy context=\"default\">\n    <allow send_destination=\"" + name +
                  "\"/>\n  </policy>\n"
              "</busconfig>\n");
    done.push_back("bus policy " + reg.PolicyFile);
  }
  return done;
}

std::vector<std::string> UnregisterServer(const TRegistration& reg) {
  std::vector<std::string> done;
  for (const std::string& f : {reg.ServiceFile, reg.TypeLibFile, reg.PolicyFile}) {
    if (f.empty()) continue;
    std::error_code ec;
    if (fs::remove(f, ec)) done.push_back("removed " + f);
    else if (ec) throw std::runtime_error("cannot remove " + f + ": " + ec.message());
    else done.push_back("not registered: " + f);
  }
  return done;
}

}  // namespace tarvo
