#include "common/Paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
    if (value) {
      ::setenv(name_, value, 1);
    } else {
      ::unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

struct EnvCase {
  const char* name;
  const char* tarvo;  // nullptr: unset
  const char* xdg;
  const char* home;
  bool service;
  const char* expected;
};

void PrintTo(const EnvCase& c, std::ostream* os) {
  *os << c.name;
}

class CommonAppDataTest : public testing::TestWithParam<EnvCase> {
 protected:
  void TearDown() override { SetSystemService(false); }
};

TEST_P(CommonAppDataTest, FolderFollowsTheEnvironment) {
  const EnvCase& c = GetParam();
  ScopedEnv tarvo("TARVO_COMMON_APPDATA", c.tarvo);
  ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
  ScopedEnv home("HOME", c.home);
  SetSystemService(c.service);

  const std::string base = c.expected;
  EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_APPDATA), base);
  EXPECT_EQ(GetSpecialFolderPath(0x001A), "") << "only the common folder is known";
  const std::string dir = base.empty() ? "Tarvo/TarvoSrv" : base + "/Tarvo/TarvoSrv";
  EXPECT_EQ(GetAppDataDir(), dir);
  EXPECT_EQ(GetIniFileName(false), dir + "/TarvoSrv.ini");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommonAppDataTest,
    testing::Values(
        EnvCase{"OwnVariableWinsOverAll", "/srv/tarvo", "/x/data", "/home/u", true, "/srv/tarvo"},
        EnvCase{"OwnVariableLosesItsTrailingSlash", "/srv/tarvo//", nullptr, nullptr, false,
                "/srv/tarvo"},
        EnvCase{"EmptyOwnVariableIsUnset", "", "/x/data", "/home/u", false, "/x/data"},
        EnvCase{"SystemService", "", "/x/data", "/home/u", true, "/var/lib"},
        EnvCase{"XdgDataHome", nullptr, "/x/data/", "/home/u", false, "/x/data"},
        EnvCase{"RelativeXdgDataHomeIsPassedOver", nullptr, "x/data", "/home/u", false,
                "/home/u/.local/share"},
        EnvCase{"Home", nullptr, nullptr, "/home/u/", false, "/home/u/.local/share"},
        EnvCase{"RootHome", nullptr, "", "/", false, "/.local/share"},
        EnvCase{"NothingKnownMeansTheCurrentFolder", nullptr, nullptr, nullptr, false, ""},
        EnvCase{"EmptyHomeIsUnknown", nullptr, nullptr, "", false, ""}),
    [](const testing::TestParamInfo<EnvCase>& info) { return std::string(info.param.name); });

class IniFileNameTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "tarvo-paths-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    root_ = name;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path root_;
};

TEST_F(IniFileNameTest, CreatesTheFolderAndItsParentsOnlyWhenAsked) {
  const fs::path base = root_ / "a" / "b";
  ScopedEnv tarvo("TARVO_COMMON_APPDATA", base.c_str());
  const std::string expected = (base / "Tarvo" / "TarvoSrv" / "TarvoSrv.ini").string();

  EXPECT_EQ(GetIniFileName(false), expected);
  EXPECT_FALSE(fs::exists(root_ / "a"));

  EXPECT_EQ(GetIniFileName(true), expected);
  EXPECT_TRUE(fs::is_directory(base / "Tarvo" / "TarvoSrv"));
  EXPECT_FALSE(fs::exists(expected)) << "only the folder is made, not the file";
  EXPECT_EQ(GetIniFileName(true), expected) << "an existing folder is fine";
}

TEST_F(IniFileNameTest, FolderThatCannotBeMadeStillGivesTheName) {
  std::ofstream(root_ / "plain").put('x');
  ScopedEnv tarvo("TARVO_COMMON_APPDATA", (root_ / "plain").c_str());
  EXPECT_EQ(GetIniFileName(true), (root_ / "plain/Tarvo/TarvoSrv/TarvoSrv.ini").string());
}

}  // namespace
}  // namespace tarvo
