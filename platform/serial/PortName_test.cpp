#include "platform/serial/PortName.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/serial/SerialPort.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string RealOrSame(const std::string& path) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  return ec ? path : real.string();
}

// A private folder holding a settings file, a stand-in device and a link to it.
class PortNameTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarvo_portname_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = fs::canonical(tmpl).string();
    device_ = dir_ + "/device";
    link_ = dir_ + "/link";
    ini_ = dir_ + "/settings.ini";
    std::ofstream(device_) << "";
    fs::create_symlink(device_, link_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteIni(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }

  std::string dir_, device_, link_, ini_;
};

TEST_F(PortNameTest, ComNameWithoutAPortsKeyMapsToTheSerialDevice) {
  WriteIni("[Other]\r\nCOM3=/tmp/not-this\r\n[Ports]\r\nCOM4=/tmp/nor-this\r\n");
  const struct {
    std::string name;
    std::string ini;
    std::string device;
  } cases[] = {
      {"COM3", ini_, "/dev/ttyS2"},
      {"COM1", ini_, "/dev/ttyS0"},
      {"com12", ini_, "/dev/ttyS11"},
      {"COM3", dir_ + "/missing.ini", "/dev/ttyS2"},
      {"COM3", "", "/dev/ttyS2"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolvePortName(c.name, c.ini), RealOrSame(c.device)) << c.name << " " << c.ini;
}

TEST_F(PortNameTest, PortsKeyOverridesTheDefaultAndIsResolved) {
  WriteIni("[Ports]\r\nCOM3=" + device_ + "\r\nCOM5=" + link_ + "\r\nCOM6=" + dir_ +
           "/absent\r\n");
  EXPECT_EQ(ResolvePortName("COM3", ini_), device_);
  EXPECT_EQ(ResolvePortName("Com3", ini_), device_) << "names match without regard to case";
  EXPECT_EQ(ResolvePortName("COM5", ini_), device_) << "a link in the settings is followed";
  EXPECT_EQ(ResolvePortName("COM6", ini_), dir_ + "/absent") << "a missing device stays as is";
}

TEST_F(PortNameTest, AbsolutePathsAreUsedAsTheyAreThenResolved) {
  EXPECT_EQ(ResolvePortName(device_, ini_), device_);
  EXPECT_EQ(ResolvePortName(link_, ini_), device_);
  EXPECT_EQ(ResolvePortName(dir_ + "/./device", ini_), device_);
  EXPECT_EQ(ResolvePortName("/dev/no-such-tty", ini_), "/dev/no-such-tty");
}

TEST_F(PortNameTest, OtherNamesAreRefused) {
  for (const char* name :
       {"COMx", "foo", "COM", "COM0", "COM03", "COM3x", "COM-1", " COM3", "", "dev/ttyS0",
        "ttyS0", "LPT1", "COM99999"}) {
    EXPECT_THROW(ResolvePortName(name, ini_), SerialError) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace tarvo
