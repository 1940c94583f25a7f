#include "platform/ini/IniFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

// A fresh folder per test, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string name = (fs::temp_directory_path() / "tarvo-ini-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(std::string_view name) const { return (path_ / name).string(); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void Put(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

class IniFileTest : public testing::Test {
 protected:
  TempDir dir_;
  const std::string path_ = dir_ / "TarvoSrv.ini";
  IniFile ini_{path_};
};

// --- reading ---

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(ini_.ReadString("Main", "Port", "none"), "none");
  EXPECT_EQ(ini_.ReadInteger("Main", "Port", -7), -7);
  EXPECT_TRUE(ini_.ReadBool("Main", "Port", true));
  EXPECT_FALSE(ini_.ValueExists("Main", "Port"));
  EXPECT_TRUE(ini_.ReadSections().empty());
  EXPECT_FALSE(fs::exists(path_)) << "a read must not create the file";

  Put(path_, "[Main]\r\nPort=5\r\n");
  EXPECT_EQ(ini_.ReadString("Other", "Port", "none"), "none");
  EXPECT_EQ(ini_.ReadString("Main", "Speed", "none"), "none");
  EXPECT_EQ(ini_.ReadInteger("Main", "Speed", 9600), 9600);
  EXPECT_TRUE(ini_.ReadSection("Other").empty());
}

TEST_F(IniFileTest, LinesAreReadAsTheWindowsProgramsReadThem) {
  Put(path_,
      "Orphan=1\r\n"
      "[Main]\r\n"
      "  Port  =  5  \r\n"
      "Dup=first\n"
      "DUP=second\n"
      "Quoted=\" a b \"\r\n"
      "Single='x'\r\n"
      "Mixed=\"x'\r\n"
      "Lone=\"\r\n"
      "Empty=\r\n"
      "Eq=a=b\r\n"
      ";Hidden=1\r\n"
      "  ;Indented=1\r\n"
      "no equals sign here\r\n"
      "=nameless\r\n"
      "[  Spaced Section  ] trailing text\r\n"
      "Key=v\r\n"
      "[main]\r\n"
      "Extra=from the second [Main]\r\n"
      "Port=6");

  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"Main", "Port", "5"},
      {"Main", "Dup", "first"},
      {"Main", "Quoted", " a b "},
      {"Main", "Single", "x"},
      {"Main", "Mixed", "\"x'"},
      {"Main", "Lone", "\""},
      {"Main", "Empty", ""},
      {"Main", "Eq", "a=b"},
      {"Main", "Extra", "from the second [Main]"},
      {"Main", ";Hidden", "DEF"},
      {"Main", ";Indented", "DEF"},
      {"Main", "no equals sign here", "DEF"},
      {"Main", "", "DEF"},
      {"Main", "Orphan", "DEF"},
      {"", "Orphan", "DEF"},
      {"Spaced Section", "Key", "v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini_.ReadString(c.section, c.key, "DEF"), c.expected);
  }

  EXPECT_THAT(ini_.ReadSection("MAIN"), ElementsAre("Port", "Dup", "Quoted", "Single", "Mixed",
                                                    "Lone", "Empty", "Eq", "Extra"));
  EXPECT_THAT(ini_.ReadSections(), ElementsAre("Main", "Spaced Section"));
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseInLatinAndCyrillic) {
  // [Main] Port=5, [Порт] Скорость=9600, [Ёлка] Ёж=1 in code page 1251.
  Put(path_,
      "[Main]\r\nPort=5\r\n"
      "[\xCF\xEE\xF0\xF2]\r\n\xD1\xEA\xEE\xF0\xEE\xF1\xF2\xFC=9600\r\n"
      "[\xA8\xEB\xEA\xE0]\r\n\xA8\xE6=1\r\n");
  struct Case {
    const char* section;
    const char* key;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"Main", "Port", 5},       {"main", "PORT", 5},        {"MAIN", "port", 5},
      {" Main\t", "  Port ", 5}, {"пОРТ", "СКОРОСТЬ", 9600}, {"порт", "скорость", 9600},
      {"ёЛКА", "ёЖ", 1},         {"Mai", "Port", -1},        {"Main", "Ports", -1},
      {"Порт", "Скорост", -1},   {"Елка", "Еж", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini_.ReadInteger(c.section, c.key, -1), c.expected);
  }

  ini_.WriteInteger("MAIN", "pORT", 6);
  ini_.WriteInteger("ПОРТ", "скорость", 19200);
  EXPECT_EQ(Get(path_),
            "[Main]\r\nPort=6\r\n"
            "[\xCF\xEE\xF0\xF2]\r\n\xD1\xEA\xEE\xF0\xEE\xF1\xF2\xFC=19200\r\n"
            "[\xA8\xEB\xEA\xE0]\r\n\xA8\xE6=1\r\n");
}

TEST_F(IniFileTest, IntegersAndBooleans) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;  // nullopt: not an integer, the default wins
  };
  const Case cases[] = {
      {"5", 5},
      {"-3", -3},
      {"+7", 7},
      {"0", 0},
      {"2", 2},
      {"0x10", 16},
      {"0X1f", 31},
      {"$1F", 31},
      {"-0x10", -16},
      {"007", 7},
      {"'12'", 12},
      {"2147483647", std::numeric_limits<std::int32_t>::max()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"0x7FFFFFFF", std::numeric_limits<std::int32_t>::max()},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"0x80000000", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"1 2", std::nullopt},
      {"5x", std::nullopt},
      {"1.5", std::nullopt},
      {"0x1G", std::nullopt},
      {"true", std::nullopt},
  };
  std::string file = "[N]\r\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    file += "k" + std::to_string(i) + "=" + cases[i].text + "\r\n";
  }
  Put(path_, file);

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const std::string key = "k" + std::to_string(i);
    SCOPED_TRACE(std::string("value \"") + c.text + "\"");
    EXPECT_EQ(ini_.ReadInteger("N", key, 99), c.value.value_or(99));
    EXPECT_EQ(ini_.ReadBool("N", key, false), c.value ? *c.value != 0 : false);
    EXPECT_EQ(ini_.ReadBool("N", key, true), c.value ? *c.value != 0 : true);
  }
}

TEST_F(IniFileTest, CyrillicIsReadFromCodePage1251) {
  Put(path_, "[Menu]\r\nExit=\xC2\xFB\xF5\xEE\xE4\r\n\xCA\xED\xEE\xEF\xEA\xE0=1\r\n");
  EXPECT_EQ(ini_.ReadString("Menu", "Exit", ""), "Выход");
  EXPECT_THAT(ini_.ReadSection("Menu"), ElementsAre("Exit", "Кнопка"));
}

TEST_F(IniFileTest, HugeAndBinaryFilesReadOnlyUpToTheCap) {
  std::string huge = "[S]\r\nfirst=1\r\n";
  const std::string filler = "filler=" + std::string(100, 'x') + "\r\n";
  while (huge.size() < (std::size_t{1} << 20) + 1000) huge += filler;
  huge += "last=2\r\n";
  Put(path_, huge);
  EXPECT_EQ(ini_.ReadInteger("S", "first", 0), 1);
  EXPECT_EQ(ini_.ReadInteger("S", "last", 0), 0);
  try {
    ini_.WriteString("S", "new", "3");
    ADD_FAILURE() << "writing back only the start of the file must be refused";
  } catch (const IniError& e) {
    EXPECT_THAT(e.what(), HasSubstr(path_));
    EXPECT_THAT(e.what(), HasSubstr("larger than 1 MiB"));
  }
  EXPECT_EQ(Get(path_), huge);

  std::mt19937 random(1251);
  std::string binary(300'000, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  binary.replace(1000, 14, "\n[S]\nfirst=1\n");
  Put(path_, binary);
  EXPECT_EQ(ini_.ReadString("S", "missing", "def"), "def");
  EXPECT_FALSE(ini_.ReadSections().empty());
}

// --- writing ---

TEST_F(IniFileTest, ValuesRoundTrip) {
  struct StringCase {
    const char* section;
    const char* key;
    std::string value;
  };
  const StringCase strings[] = {
      {"Main", "Name", "Pump station 3"},  {"Main", "Empty", ""},
      {"Main", "Inner blanks", "a  b\tc"}, {"Main", "Equals", "a=b;c"},
      {"Сеть", "Порт", "COM1: порт №3"},   {"Main", "Long", std::string(10'000, 'x') + "end"},
  };
  for (const StringCase& c : strings) ini_.WriteString(c.section, c.key, c.value);
  ini_.WriteString("Main", "Name", "Pump station 4");

  const IniFile reader(path_);
  EXPECT_EQ(reader.ReadString("Main", "Name", ""), "Pump station 4");
  for (const StringCase& c : strings) {
    if (std::string_view(c.key) == "Name") continue;
    SCOPED_TRACE(c.key);
    EXPECT_EQ(reader.ReadString(c.section, c.key, "DEF"), c.value);
  }

  const std::int32_t integers[] = {std::numeric_limits<std::int32_t>::min(), -1, 0, 42,
                                   std::numeric_limits<std::int32_t>::max()};
  for (const std::int32_t v : integers) ini_.WriteInteger("Numbers", std::to_string(v), v);
  for (const std::int32_t v : integers) {
    EXPECT_EQ(reader.ReadInteger("Numbers", std::to_string(v), 7), v);
  }
  EXPECT_EQ(reader.ReadString("Numbers", "-2147483648", ""), "-2147483648");

  ini_.WriteBool("Flags", "On", true);
  ini_.WriteBool("Flags", "Off", false);
  EXPECT_TRUE(reader.ReadBool("Flags", "On", false));
  EXPECT_FALSE(reader.ReadBool("Flags", "Off", true));
  EXPECT_THAT(Get(path_), HasSubstr("[Flags]\r\nOn=1\r\nOff=0\r\n"));
}

TEST_F(IniFileTest, EditKeepsEveryOtherLineByteForByte) {
  Put(path_,
      "; Settings of the server\r\n"
      "Orphan=1\r\n"
      "\r\n"
      "[Main]\r\n"
      "Port = 5\r\n"
      "  Speed=9600  \r\n"
      "this line has no equals sign\r\n"
      ";Commented=1\r\n"
      "\r\n"
      "[Modem]\r\n"
      "Init=ATZ\r\n"
      "\r\n"
      "; trailing comment, no line break after it");

  ini_.WriteInteger("main", "port", 7);
  ini_.WriteString("Main", "New", "x");
  ini_.WriteString("Log", "Level", "2");
  ini_.WriteString("Modem", "Dial", "ATDT");

  EXPECT_EQ(Get(path_),
            "; Settings of the server\r\n"
            "Orphan=1\r\n"
            "\r\n"
            "[Main]\r\n"
            "Port = 7\r\n"
            "  Speed=9600  \r\n"
            "New=x\r\n"
            "this line has no equals sign\r\n"
            ";Commented=1\r\n"
            "\r\n"
            "[Modem]\r\n"
            "Init=ATZ\r\n"
            "Dial=ATDT\r\n"
            "\r\n"
            "; trailing comment, no line break after it\r\n"
            "\r\n"
            "[Log]\r\n"
            "Level=2\r\n");
  EXPECT_THAT(ini_.ReadSections(), ElementsAre("Main", "Modem", "Log"));
}

TEST_F(IniFileTest, FileWithLfLineBreaksIsWrittenBackWithCrLf) {
  Put(path_, "[A]\nx=1\n; note\n");
  ini_.WriteString("A", "x", "2");
  EXPECT_EQ(Get(path_), "[A]\r\nx=2\r\n; note\r\n");
}

TEST_F(IniFileTest, CyrillicIsStoredInCodePage1251) {
  ini_.WriteString("Сервер", "Кнопка", "Выход");
  EXPECT_EQ(Get(path_),
            "[\xD1\xE5\xF0\xE2\xE5\xF0]\r\n\xCA\xED\xEE\xEF\xEA\xE0=\xC2\xFB\xF5\xEE\xE4\r\n");
  EXPECT_EQ(ini_.ReadString("сервер", "КНОПКА", ""), "Выход");
}

TEST_F(IniFileTest, EveryObjectSeesTheFileAsItIsNow) {
  IniFile other(path_);
  ini_.WriteInteger("Main", "Port", 1);
  EXPECT_EQ(other.ReadInteger("Main", "Port", 0), 1);
  other.WriteInteger("Main", "Port", 2);
  EXPECT_EQ(ini_.ReadInteger("Main", "Port", 0), 2);

  Put(path_, "[Main]\r\nPort=3\r\n");  // another program's change
  EXPECT_EQ(ini_.ReadInteger("Main", "Port", 0), 3);
  other.DeleteKey("Main", "Port");
  EXPECT_FALSE(ini_.ValueExists("Main", "Port"));
}

TEST_F(IniFileTest, ThreadsWritingTheSameFileLoseNothing) {
  constexpr int kWrites = 40;
  auto writer = [&](const char* section) {
    IniFile ini(path_);
    for (int i = 0; i < kWrites; ++i) ini.WriteInteger(section, "k" + std::to_string(i), i);
  };
  std::thread a(writer, "A"), b(writer, "B");
  a.join();
  b.join();
  EXPECT_EQ(ini_.ReadSection("A").size(), std::size_t{kWrites});
  EXPECT_EQ(ini_.ReadSection("B").size(), std::size_t{kWrites});
  EXPECT_EQ(Listing(dir_.Path()), std::set<std::string>{"TarvoSrv.ini"});
}

TEST_F(IniFileTest, RewriteKeepsTheModeAndWritesThroughALink) {
  Put(path_, "[A]\r\nx=1\r\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  ini_.WriteString("A", "x", "2");
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms(0640));

  const std::string link = dir_ / "link.ini";
  fs::create_symlink(path_, link);
  IniFile(link).WriteString("A", "x", "3");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(path_), "[A]\r\nx=3\r\n");
}

TEST_F(IniFileTest, WriteThatCannotHappenRaisesIniErrorNamingTheFile) {
  Put(dir_ / "plain.txt", "not a folder");
  fs::create_directory(dir_ / "folder.ini");
  fs::create_directory(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms(0500));
  const std::set<std::string> before = Listing(dir_.Path());
  const bool root = ::geteuid() == 0;

  struct Case {
    std::string path;
    const char* reason;
    bool permissionsApply;  // root writes anywhere
  };
  const Case cases[] = {
      {dir_ / "missing/sub/TarvoSrv.ini", "No such file or directory", false},
      {dir_ / "plain.txt/TarvoSrv.ini", "Not a directory", false},
      {dir_ / "folder.ini", "Is a directory", false},
      {dir_ / "ro/TarvoSrv.ini", "Permission denied", true},
  };
  for (const Case& c : cases) {
    if (c.permissionsApply && root) continue;
    SCOPED_TRACE(c.path);
    IniFile ini(c.path);
    const std::string expected = "Cannot write settings file " + c.path + ": " + c.reason;
    for (auto write : {+[](IniFile& f) { f.WriteString("Main", "Port", "1"); },
                       +[](IniFile& f) { f.WriteInteger("Main", "Port", 1); },
                       +[](IniFile& f) { f.WriteBool("Main", "On", true); }}) {
      try {
        write(ini);
        ADD_FAILURE() << "no IniError";
      } catch (const IniError& e) {
        EXPECT_EQ(e.what(), expected);
      }
    }
    EXPECT_EQ(ini.ReadInteger("Main", "Port", 5), 5);
  }
  EXPECT_EQ(Listing(dir_.Path()), before) << "nothing created, no temporary file left";
  fs::permissions(dir_ / "ro", fs::perms::owner_all);
}

TEST_F(IniFileTest, EntriesThatWouldNotReadBackAreRefused) {
  const std::string original = "[S]\r\nk=1\r\n";
  Put(path_, original);
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"S", "", "v"},         {"S", "  ", "v"},       {"S", "a=b", "v"},
      {"S", ";k", "v"},       {"S", "[k]", "v"},      {"S", "k", "one\r\ntwo"},
      {"S", "k", "one\ntwo"}, {"S\r\n[X]", "k", "v"}, {"S", "k\r", "v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.value);
    try {
      ini_.WriteString(c.section, c.key, c.value);
      ADD_FAILURE() << "no IniError";
    } catch (const IniError& e) {
      EXPECT_THAT(e.what(), testing::StartsWith("Cannot write settings file " + path_ + ": "));
    }
  }
  EXPECT_EQ(Get(path_), original);
}

TEST_F(IniFileTest, DeleteKeyAndEraseSection) {
  Put(path_,
      "[A]\r\nx=1\r\n;note\r\ny=2\r\nX=3\r\n"
      "[B]\r\nz=1\r\n\r\n"
      "[a]\r\nx=4\r\nw=5\r\n");
  ini_.DeleteKey("a", "X");
  EXPECT_EQ(Get(path_), "[A]\r\n;note\r\ny=2\r\n[B]\r\nz=1\r\n\r\n[a]\r\nw=5\r\n");
  EXPECT_FALSE(ini_.ValueExists("A", "x"));
  EXPECT_EQ(ini_.ReadInteger("A", "y", 0), 2);

  ini_.EraseSection("A");
  EXPECT_EQ(Get(path_), "[B]\r\nz=1\r\n\r\n");
  EXPECT_FALSE(ini_.SectionExists("A"));
  EXPECT_THAT(ini_.ReadSections(), ElementsAre("B"));
}

TEST_F(IniFileTest, ChangeThatChangesNothingLeavesTheFileAlone) {
  // LF line breaks: any rewrite would turn them into CR LF.
  const std::string original = "[A]\nx=1\n";
  Put(path_, original);
  ini_.DeleteKey("A", "y");
  ini_.DeleteKey("B", "x");
  ini_.EraseSection("B");
  ini_.WriteString("a", "X", "1");
  EXPECT_EQ(Get(path_), original);

  IniFile nowhere(dir_ / "missing/TarvoSrv.ini");
  nowhere.DeleteKey("A", "x");
  nowhere.EraseSection("A");
  EXPECT_EQ(Listing(dir_.Path()), std::set<std::string>{"TarvoSrv.ini"});
}

TEST_F(IniFileTest, SectionExistsOnlyWhileItHoldsAKey) {
  Put(path_, "[Full]\r\nk=\r\n[Bare]\r\n; only a comment\r\n");
  EXPECT_TRUE(ini_.SectionExists("full"));
  EXPECT_FALSE(ini_.SectionExists("Bare"));
  EXPECT_FALSE(ini_.SectionExists("None"));
  EXPECT_TRUE(ini_.ValueExists("Full", "K")) << "an empty value still exists";
  EXPECT_FALSE(ini_.ValueExists("Full", "j"));
  EXPECT_THAT(ini_.ReadSections(), ElementsAre("Full", "Bare"));
}

}  // namespace
}  // namespace tarvo
