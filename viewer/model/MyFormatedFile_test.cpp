#include "viewer/model/MyFormatedFile.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace tarvo {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class MyFormatedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-fmt-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(MyFormatedFileTest, EveryKindWritesItsLine) {
  TCustomFormat custom;
  custom.Separator = ';';
  custom.TextBefore = "<";
  custom.TextAfter = "°>";  // 0xB0 in 1251
  TCustomFormat customCr = custom;
  custom.CrLf = true;
  TCustomFormat blank;  // a record never edited: separator 0, CR alone
  blank.TextBefore = "[";
  struct Case {
    std::uint8_t kind;
    TCustomFormat format;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0, {}, "\"a\",\"\xC1\",\"c\"\r\n"},
      {1, {}, "\"a\";\"\xC1\";\"c\"\r\n"},
      {2, {}, "a\t\xC1\tc\r\n"},
      {3, {}, "a\t\xC1\tc\r\n"},
      {4, custom, "<a\xB0>;<\xC1\xB0>;<c\xB0>\r\n"},
      {4, customCr, "<a\xB0>;<\xC1\xB0>;<c\xB0>\r"},
      {4, blank, "[a [\xC1 [c\r"},
  };
  for (const Case& c : cases) {
    const auto path = dir_ / ("k" + std::to_string(c.kind) + ".txt");
    TMyFormatedFile f(c.kind, c.format);
    f.Create(path.string(), false);
    for (const char* field : {"a", "Б", "c"}) f.WriteField(field);
    f.EndLine();
    EXPECT_EQ(f.FieldCount(), 0);
    EXPECT_EQ(ReadAll(path), c.expected) << int(c.kind);  // flushed without closing
    f.Close();
  }
}

TEST_F(MyFormatedFileTest, AppendsOrRewrites) {
  const auto path = (dir_ / "a.txt").string();
  for (bool append : {false, true, true, false}) {
    TMyFormatedFile f(2, {});
    f.Create(path, append);
    f.WriteField("x");
    f.EndLine();
  }
  EXPECT_EQ(ReadAll(path), "x\r\n");
  TMyFormatedFile f(2, {});
  f.Create(path, true);
  f.WriteField("y");
  f.EndLine();
  f.Close();
  EXPECT_EQ(ReadAll(path), "x\r\ny\r\n");
}

TEST_F(MyFormatedFileTest, UnknownKindAndUnopenableFileAreErrors) {
  TMyFormatedFile f(5, {});
  f.Create((dir_ / "u.txt").string(), false);
  try {
    f.WriteField("a");
    ADD_FAILURE();
  } catch (const std::range_error& e) {
    EXPECT_STREQ(e.what(), "Журнал: Неизвестный формат файла!");
  }
  TMyFormatedFile g(0, {});
  EXPECT_THROW(g.Create((dir_ / "no" / "such.txt").string(), false), std::system_error);
  EXPECT_THROW(g.WriteField("a"), std::system_error);
}

TEST_F(MyFormatedFileTest, WriteFailuresAreReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TMyFormatedFile f(2, {});
  f.Create("/dev/full", true);
  EXPECT_THROW(f.WriteField("a"), std::system_error);
}

}  // namespace
}  // namespace tarvo
