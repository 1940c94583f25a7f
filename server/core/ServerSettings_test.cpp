#include "server/core/ServerSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/Paths.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tarvo-settings-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(SettingsTest, DefaultsWithoutAFileAndTheFolderIsCreated) {
  const std::string ini = GetIniFileName(true);
  EXPECT_EQ(ini, (dir / "Tarvo/TarvoSrv/TarvoSrv.ini").string());
  EXPECT_TRUE(fs::is_directory(dir / "Tarvo/TarvoSrv"));
  EXPECT_FALSE(fs::exists(ini));
  const TServerSettings s = ReadServerSettings(ini);
  EXPECT_FALSE(s.HighPriority);
  EXPECT_TRUE(s.TenBitsForAll);
  EXPECT_FALSE(s.EthernetRs);
  EXPECT_EQ(s.ByteTimeoutMultiplier, 5);
  EXPECT_TRUE(s.NoDebugMessages);
  EXPECT_TRUE(s.KeepLog);
  EXPECT_EQ(GetLogDir(), (dir / "Tarvo/TarvoSrv/Logs").string());
}

TEST_F(SettingsTest, ReadsEveryKeyAndWritesTheLogKeysBack) {
  const std::string ini = GetIniFileName(true);
  {
    std::ofstream f(ini, std::ios::binary);
    f << "[main]\r\nhighpriority=1\r\nTenBitsForAll=0\r\nEthernetRs=7\r\n[Com]\r\n"
         "ByteTimeoutMultiplier=12\r\n[LogKeeper]\r\nNoDebugMessages=0\r\n";
  }
  const TServerSettings s = ReadServerSettings(ini);
  EXPECT_TRUE(s.HighPriority);
  EXPECT_FALSE(s.TenBitsForAll);
  EXPECT_TRUE(s.EthernetRs);
  EXPECT_EQ(s.ByteTimeoutMultiplier, 12);
  EXPECT_FALSE(s.NoDebugMessages);
  EXPECT_TRUE(s.KeepLog);

  {
    TLogKeeper keeper(LogKeeperOptionsFrom(ini, GetLogDir()));
    EXPECT_FALSE(keeper.NoDebugMessages());
    WriteLogKeeperSettings(ini, keeper);
  }
  std::ifstream f(ini, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("NoDebugMessages=0\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("KeepLog=1\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("highpriority=1\r\n"), std::string::npos) << text;  // the rest is kept
}

}  // namespace
}  // namespace tarvo
