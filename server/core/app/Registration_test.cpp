#include "server/core/app/Registration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvo {
namespace {

std::string Read(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(Registration, WritesWhatTheBusNeedsAndRemovesItAgain) {
  const std::string dir = (std::filesystem::temp_directory_path() / "tarvo-reg-test").string();
  std::filesystem::remove_all(dir);
  for (const bool system : {false, true}) {
    SCOPED_TRACE(system ? "system bus" : "session bus");
    const TRegistration r = RegistrationFiles(system, dir);
    EXPECT_EQ(r.ServiceFile, dir + (system ? "/system-services/" : "/services/") +
                                 "org.tarvo.TarvoSrv.service");
    EXPECT_EQ(r.TypeLibFile, dir + "/interfaces/org.tarvo.TarvoSrv.xml");
    EXPECT_EQ(r.PolicyFile.empty(), !system);

    const auto done = RegisterServer(r, system, "/opt/tarvo/TarvoSrv", "<node/>");
    EXPECT_EQ(done.size(), system ? 3u : 2u);
    const std::string service = Read(r.ServiceFile);
    EXPECT_NE(service.find("Name=org.tarvo.TarvoSrv\n"), std::string::npos);
    EXPECT_NE(service.find(system ? "Exec=/opt/tarvo/TarvoSrv AUTOMATION --system\nUser=root\n"
                                  : "Exec=/opt/tarvo/TarvoSrv AUTOMATION\n"),
              std::string::npos)
        << service;
    EXPECT_EQ(Read(r.TypeLibFile), "<node/>");
    if (system) {
      EXPECT_NE(Read(r.PolicyFile).find("<allow own=\"org.tarvo.TarvoSrv\"/>"), std::string::npos);
    }

    const auto removed = UnregisterServer(r);
    for (const std::string& line : removed) EXPECT_EQ(line.rfind("removed ", 0), 0u) << line;
    EXPECT_FALSE(std::filesystem::exists(r.ServiceFile));
    EXPECT_EQ(UnregisterServer(r).front().rfind("not registered: ", 0), 0u);
  }
  // A folder that cannot be made is a clear error naming the file.
  std::ofstream(dir + "/blocker") << "x";
  const TRegistration bad = RegistrationFiles(false, dir + "/blocker");
  EXPECT_THROW(RegisterServer(bad, false, "/x", "<node/>"), std::runtime_error);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvo
