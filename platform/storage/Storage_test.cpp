#include "platform/storage/Storage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/storage/StorageError.h"
#include "platform/storage/StorageName.h"

namespace tarvo {
namespace {

using Names = std::vector<std::string>;

TEST(StorageName, AcceptsWhatTheFormatCanHold) {
  const std::vector<std::string> good = {
      "a", "Contents", "Проект 1", "\x05SummaryInformation", std::string(31, 'x'),
      // 31 Cyrillic letters: 62 bytes of UTF-8, still 31 UTF-16 units.
      [] { std::string s; for (int i = 0; i < 31; ++i) s += "ж"; return s; }()};
  for (const auto& n : good) EXPECT_NO_THROW(StorageName::Check(n)) << n;
}

TEST(StorageName, RefusesWhatTheFormatCannotHold) {
  struct Case {
    std::string name;
    std::string why;
  };
  const std::vector<Case> bad = {
      {"", "Empty"},
      {std::string(32, 'x'), "longer than 31"},
      // 16 characters outside the BMP take 32 UTF-16 units.
      {[] { std::string s; for (int i = 0; i < 16; ++i) s += "\xF0\x9F\x98\x80"; return s; }(),
       "longer than 31"},
      {"a/b", "reserved"},
      {"a\\b", "reserved"},
      {"a:b", "reserved"},
      {"a!b", "reserved"},
      {std::string("a\0b", 3), "reserved"},
      {"\xC3\x28", "UTF-8"},
  };
  for (const auto& c : bad) {
    try {
      StorageName::Check(c.name);
      ADD_FAILURE() << "accepted " << c.name;
    } catch (const StorageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
  }
}

TEST(Storage, BuildsNestedTreeAndLooksItUp) {
  Storage root;
  Storage& a = root.CreateStorage("A");
  Storage& b = a.CreateStorage("B");
  b.WriteStream("s", std::string("x\0y", 3));
  root.WriteStream("top", "1");
  a.CreateStorage("C");  // grows a's list; the reference to b must survive that

  EXPECT_EQ(root.StorageNames(), Names{"A"});
  EXPECT_EQ(root.StreamNames(), Names{"top"});
  EXPECT_EQ(a.StorageNames(), (Names{"B", "C"}));
  EXPECT_EQ(&root.OpenStorage("A").OpenStorage("B"), &b);
  EXPECT_EQ(b.ReadStream("s"), std::string("x\0y", 3));
  EXPECT_EQ(b.StreamSize("s"), 3u);
  EXPECT_EQ(b.ReadStreamBytes("s"), (std::vector<std::uint8_t>{'x', 0, 'y'}));
  EXPECT_TRUE(root.HasStorage("A"));
  EXPECT_FALSE(root.HasStream("A"));
  EXPECT_TRUE(root.HasStream("top"));
  EXPECT_FALSE(root.HasStorage("top"));
}

TEST(Storage, WriteReplacesAndDeleteRemovesSubtree) {
  Storage root;
  root.WriteStream("s", "old");
  root.WriteStream("s", std::vector<std::uint8_t>{1, 2});
  EXPECT_EQ(root.ReadStream("s"), "\x01\x02");
  EXPECT_EQ(root.StreamNames(), Names{"s"});

  root.CreateStorage("d").CreateStorage("e").WriteStream("f", "z");
  root.Delete("d");
  root.Delete("s");
  EXPECT_TRUE(root.StorageNames().empty());
  EXPECT_TRUE(root.StreamNames().empty());
}

TEST(Storage, RefusesClashesAndMissingNames) {
  Storage root;
  root.CreateStorage("Папка");
  root.WriteStream("Data", "1");
  // Readers on Windows match names without regard to case, Cyrillic included.
  EXPECT_THROW(root.CreateStorage("ПАПКА"), StorageError);
  EXPECT_THROW(root.CreateStorage("data"), StorageError);
  EXPECT_THROW(root.WriteStream("Папка", "x"), StorageError);
  EXPECT_EQ(root.ReadStream("DATA"), "1");

  EXPECT_THROW(root.OpenStorage("Data"), StorageError);
  EXPECT_THROW(root.ReadStream("Папка"), StorageError);
  EXPECT_THROW(root.ReadStream("none"), StorageError);
  EXPECT_THROW(root.StreamSize("none"), StorageError);
  EXPECT_THROW(root.Delete("none"), StorageError);
  EXPECT_THROW(root.CreateStorage(std::string(32, 'x')), StorageError);
}

}  // namespace
}  // namespace tarvo
