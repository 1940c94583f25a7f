#include "tools/devsim/Options.h"

#include <gtest/gtest.h>

namespace tarvo::devsim {
namespace {

TEST(Options, DefaultsAndEveryOption) {
  Options d = ParseOptions({});
  EXPECT_EQ(d.mode, mmRTU);
  EXPECT_EQ(d.address, 1);
  EXPECT_TRUE(d.device.empty());
  EXPECT_EQ(d.exitAfterMs, 0);

  Options o = ParseOptions({"--mode", "ascii", "--addr", "17", "--link", "/tmp/x", "--map", "m",
                            "--exit-after-ms", "500", "--verbose", "--silent", "--bad-checksum",
                            "--wrong-addr", "--exception", "0x0B", "--split-pause", "30",
                            "--garbage", "4", "--delay", "250"});
  EXPECT_EQ(o.mode, mmASCII);
  EXPECT_EQ(o.address, 17);
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_EQ(o.mapFile, "m");
  EXPECT_EQ(o.exitAfterMs, 500);
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.faults.silent && o.faults.badChecksum && o.faults.wrongAddr);
  EXPECT_EQ(o.faults.exception, 11);
  EXPECT_EQ(o.faults.splitPauseMs, 30);
  EXPECT_EQ(o.faults.garbage, 4);
  EXPECT_EQ(o.faults.delayMs, 250);

  Options s = ParseOptions({"--device", "/dev/ttyS0", "--baud", "19200"});
  EXPECT_EQ(s.device, "/dev/ttyS0");
  EXPECT_EQ(s.baud, 19200);
}

TEST(Options, RefusesWhatCannotRun) {
  const std::vector<std::vector<std::string>> bad = {
      {"--mode", "tcp"}, {"--addr", "0"},        {"--addr", "248"},   {"--addr", "1x"},
      {"--addr"},        {"--exception", "0"},   {"--delay", "-1"},   {"--frobnicate"},
      {"--device", "/dev/ttyS0", "--link", "/tmp/x"},
  };
  for (const auto& args : bad) EXPECT_THROW(ParseOptions(args), OptionError) << args[0];
}

TEST(Options, HelpCoversEveryOptionAndTheMapFormat) {
  std::string help = HelpText();
  for (const char* word : {"--link", "--device", "--baud", "--exit-after-ms", "--mode", "--addr",
                           "--map", "--silent", "--bad-checksum", "--wrong-addr", "--exception",
                           "--split-pause", "--garbage", "--delay", "--verbose", "--help",
                           "archive N fields", "u32time", "ramp", "hr 0..9 1+"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace tarvo::devsim
