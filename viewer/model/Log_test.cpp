#include "viewer/model/Log.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "viewer/model/DocStream.h"
#include "viewer/model/LastErr.h"
#include "viewer/model/StdFormat.h"

namespace tarvo {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Variant Row(std::vector<Variant> items) { return Variant(SafeArray::Of(VT_VARIANT, std::move(items))); }

TEST(LogDescTest, DefaultLayout) {
  TDocStream s;
  TLogDesc().SaveToStream(s);
  std::string expected("\x00\x01\x0C\x00\x00\x00", 6);
  expected += "\xCD\xEE\xE2\xFB\xE9 \xE6\xF3\xF0\xED\xE0\xEB";  // "Новый журнал" in 1251
  expected += std::string("\x01\x00\x00\x00" "\x00\x00\x00\x00" "\x00" "\x00\x00\x00\x00", 13);
  expected += std::string(TCustomFormat::kSize, '\0');
  EXPECT_EQ(s.Bytes(), expected);
}

TEST(LogDescTest, RoundTripAndDamagedStreams) {
  TLogDesc d;
  d.LogOn = true;
  d.LogSuspended = false;
  d.FileName = "/tmp/журнал.txt";
  d.FormatKind = 4;
  d.Title = "Котёл 1";
  d.AppendToFile = true;
  d.CustomFormat.ShowTitle = true;
  d.CustomFormat.Separator = '|';
  d.CustomFormat.TextAfter = " ед.";
  d.Columns = {{3, 99, "T", "°C", 12}, {4, 0, "P", "", 31}};
  TDocStream s;
  d.SaveToStream(s);
  s.WriteByte(0x5A);  // what follows in the stream stays where it was
  TDocStream in(s.Bytes());
  TLogDesc back;
  back.LoadFromStream(in);
  EXPECT_EQ(back, d);
  EXPECT_TRUE(back.Active());
  EXPECT_EQ(in.ReadByte(), 0x5A);

  const std::string bytes = s.Bytes().substr(0, s.Size() - 1);
  for (std::size_t n : {std::size_t{0}, std::size_t{5}, std::size_t{40}, std::size_t{300}, bytes.size() - 1}) {
    TDocStream cut(bytes.substr(0, n));
    TLogDesc kept;
    EXPECT_THROW(kept.LoadFromStream(cut), EDocStreamError) << n;
    EXPECT_EQ(kept, TLogDesc()) << n;
  }
  // A column count far beyond the bytes that follow.
  std::string hostile = bytes;
  const std::size_t countAt = 2 + (4 + 15) + 4 + (4 + 7) + 1;  // flags, name, kind, title, append
  hostile[countAt + 3] = 0x7F;
  TDocStream h(hostile);
  EXPECT_THROW(TLogDesc().LoadFromStream(h), EDocStreamError);
}

TEST(CustomFormatTest, RecordLayout) {
  TCustomFormat f;
  f.ShowFieldNames = true;
  f.Separator = 9;
  f.CrLf = true;
  f.TextBefore = "«";
  f.TextAfter = "ab";
  const auto raw = f.ToBytes();
  ASSERT_EQ(raw.size(), 517u);
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 8),
            (std::vector<std::uint8_t>{0, 1, 0, 9, 1, 1, 0xAB, 0}));
  EXPECT_EQ(raw[261], 2);
  EXPECT_EQ(raw[262], 'a');
  EXPECT_EQ(raw[263], 'b');
  EXPECT_EQ(TCustomFormat::FromBytes(raw), f);

  auto junk = raw;
  junk[2] = 7;            // any non-zero flag is set
  junk[100] = 'x';        // past the before text's length: ignored
  const TCustomFormat j = TCustomFormat::FromBytes(junk);
  EXPECT_TRUE(j.ShowUnits);
  EXPECT_EQ(j.TextBefore, "«");

  TCustomFormat tooLong;
  tooLong.TextAfter = std::string(255, 'z');
  EXPECT_NO_THROW(tooLong.ToBytes());
  tooLong.TextAfter += "я";
  EXPECT_THROW(tooLong.ToBytes(), std::length_error);
}

TEST(LogColumnTextTest, ByTypeAndCode) {
  struct Case {
    Variant value;
    std::int32_t code;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {Variant(std::int16_t{-7}), 2, " -7"},
      {Variant(std::uint16_t{215}), 10, "215.0"},
      {Variant(std::uint32_t{4000000000u}), 9, "4000000000"},
      {Variant(std::int32_t{1234}), 21, "1.2E+003"},
      {Variant(std::uint8_t{255}), 30, "$FF"},
      {Variant(std::int16_t{-1}), 31, "0xFFFFFFFF"},
      {Variant(std::uint32_t{1700000000}), 32, "14/11/23 22:13:20"},
      {Variant(std::int32_t{1700000000}), 34, "14/11/2023"},
      {Variant(std::uint32_t{90061}), 45, "1  1:1:1"},
      {Variant(std::uint32_t{90061}), 46, "25:1:1"},
      {Variant(std::int32_t{5}), 47, ""},
      {Variant(std::int32_t{5}), -1, ""},
      {Variant(2.25), 10, "2.3"},  // half away from zero
      {Variant(2.5f), 0, "3"},
      {Variant(1.0), 30, ""},  // a float cannot take a hexadecimal format
      {Variant(1.0), 32, ""},
      {Variant(true), 0, "1"},
      {Variant(false), 99, "0"},
      {Variant(std::int64_t{5}), 9, ""},
      {Variant("5"), 9, ""},
      {Variant(), 9, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LogColumnText(c.value, c.code), c.expected) << c.value << " " << c.code;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    desc_.FileName = (dir_ / "j.txt").string();
    desc_.Title = "Котёл";
    log_.AddColumn("T", 10, "°C");
    log_.AddColumn("N", 3, "");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Journal(std::int32_t kind) {
    desc_.FormatKind = kind;
    log_.Open(desc_);
    log_.WriteRow(Row({Variant(std::int16_t{215}), Variant(std::uint16_t{7})}));
    return ReadAll(desc_.FileName);
  }

  std::filesystem::path dir_;
  TLogDesc desc_;
  TLog log_;
};

TEST_F(LogTest, HeadAndRowsByKind) {
  const std::string title = "\xCA\xEE\xF2\xB8\xEB";  // "Котёл" in 1251
  EXPECT_EQ(Journal(0), "\"" + title + "\"\r\n\"T, \xB0" "C\",\"N\"\r\n\"215.0\",\"   7\"\r\n");
  EXPECT_EQ(Journal(1), "\"" + title + "\"\r\n\"T, \xB0" "C\";\"N\"\r\n\"215.0\";\"   7\"\r\n");
  EXPECT_EQ(Journal(2), title + "\r\nT, \xB0" "C\tN\r\n215.0\t   7\r\n");
  EXPECT_EQ(Journal(3), "215.0\t   7\r\n");

  desc_.CustomFormat.ShowTitle = true;
  desc_.CustomFormat.ShowFieldNames = true;
  desc_.CustomFormat.Separator = ';';
  desc_.CustomFormat.TextBefore = "<";
  desc_.CustomFormat.TextAfter = ">";
  // Before and after texts frame values only, not the head.
  EXPECT_EQ(Journal(4), title + "\r\xC4\xE0\xF2\xE0 \xE2\xF0\xE5\xEC\xFF;T;N\r<215.0>;<   7>\r");
  desc_.CustomFormat.ShowUnits = true;
  desc_.CustomFormat.ShowTitle = false;
  desc_.CustomFormat.CrLf = true;
  EXPECT_EQ(Journal(4), "\xC4\xE0\xF2\xE0 \xE2\xF0\xE5\xEC\xFF;T, \xB0" "C;N\r\n<215.0>;<   7>\r\n");
  desc_.CustomFormat.ShowFieldNames = false;
  EXPECT_EQ(Journal(4), "<215.0>;<   7>\r\n");
}

TEST_F(LogTest, AppendKeepsWhatWasThere) {
  Journal(3);
  desc_.AppendToFile = true;
  EXPECT_EQ(Journal(3), "215.0\t   7\r\n215.0\t   7\r\n");
  EXPECT_EQ(Journal(2), "215.0\t   7\r\n215.0\t   7\r\n\xCA\xEE\xF2\xB8\xEB\r\nT, \xB0" "C\tN\r\n215.0\t   7\r\n");
  desc_.AppendToFile = false;
  EXPECT_EQ(Journal(3), "215.0\t   7\r\n");
}

TEST_F(LogTest, RowsMustMatchTheColumns) {
  desc_.FormatKind = 2;
  log_.Open(desc_);
  for (const Variant& bad : {Row({Variant(1), Variant(2), Variant(3)}), Variant(1),
                             Variant(SafeArray(VT_VARIANT, {{0, 2}, {0, 1}}))}) {
    try {
      log_.WriteRow(bad);
      ADD_FAILURE() << bad;
    } catch (const std::range_error& e) {
      EXPECT_STREQ(e.what(), "Журнал: Количестве эелементов не соответствует указанному!");
    }
  }
  TLog one;
  one.AddColumn("X", 9, "");
  one.Open(desc_);
  one.WriteRow(Variant(std::int32_t{42}));  // a single value is a one-element row
  EXPECT_EQ(ReadAll(desc_.FileName), "\xCA\xEE\xF2\xB8\xEB\r\nX\r\n42\r\n");
}

TEST_F(LogTest, UnknownKindIsRefusedBeforeTheFileIsTouched) {
  { std::ofstream(desc_.FileName) << "keep"; }
  for (std::int32_t kind : {5, -1, 259}) {
    desc_.FormatKind = kind;
    EXPECT_THROW(log_.Open(desc_), std::range_error) << kind;
    EXPECT_THROW(log_.WriteRow(Row({Variant(1), Variant(2)})), std::range_error) << kind;
  }
  EXPECT_EQ(ReadAll(desc_.FileName), "keep");
}

TEST(LastErrTest, KeepsTheLastText) {
  TLastErr& e = TLastErr::Instance();
  try {
    e.RaiseErrorFmt("'%s' - не вещественное число", {Variant("1.x")});
  } catch (const std::runtime_error& ex) {
    EXPECT_STREQ(ex.what(), "'1.x' - не вещественное число");
  }
  try {
    e.RaiseError("");
  } catch (const std::runtime_error& ex) {
    EXPECT_STREQ(ex.what(), "'1.x' - не вещественное число");
  }
  EXPECT_EQ(e.Text(), "'1.x' - не вещественное число");
  EXPECT_THROW(e.RaiseErrorFmt("%d", {}), EFormatError);
}

}  // namespace
}  // namespace tarvo
