#include "tools/devsim/MapFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace tarvo::devsim {
namespace {

TEST(MapFile, ReadsEveryKindOfLine) {
  DeviceMap map;
  ParseMap(
      "# a meter\n"
      "hr 100 1234\n"
      "hr 0x10..0x12 0x7FFF+ ro   # counts up\n"
      "hr 5 -2\n"
      "ir 0..9 ramp\n"
      "ir 20 sine\n"
      "coil 5 1\n"
      "coil 6..7 0 ro\n"
      "di 3 0\n"
      "\n"
      "   name   My  Meter  \n"
      "status 0x12\n"
      "archive 4 fields u32time,u16,i16,u32,i32,f32 records 100 step 600\n",
      map);
  ASSERT_NE(map.Find(Table::kHolding, 100), nullptr);
  EXPECT_EQ(map.Find(Table::kHolding, 100)->value, 1234);
  EXPECT_TRUE(map.Find(Table::kHolding, 100)->writable);
  EXPECT_EQ(map.Find(Table::kHolding, 0x12)->value, 0x8001);
  EXPECT_FALSE(map.Find(Table::kHolding, 0x11)->writable);
  EXPECT_EQ(map.Find(Table::kHolding, 5)->value, 0xFFFE);
  EXPECT_EQ(map.Size(Table::kHolding), 5u);
  EXPECT_EQ(map.Size(Table::kInput), 11u);
  EXPECT_EQ(map.Find(Table::kInput, 9)->kind, PointKind::kRamp);
  EXPECT_EQ(map.Find(Table::kInput, 20)->kind, PointKind::kSine);
  EXPECT_FALSE(map.Find(Table::kInput, 20)->writable);
  EXPECT_EQ(map.Find(Table::kInput, 10), nullptr);
  EXPECT_TRUE(map.Find(Table::kCoil, 5)->writable);
  EXPECT_FALSE(map.Find(Table::kCoil, 7)->writable);
  EXPECT_EQ(map.Find(Table::kDiscreteInput, 3)->value, 0);
  EXPECT_EQ(map.name1251, "My  Meter");
  EXPECT_EQ(map.status, 0x12);
  ASSERT_EQ(map.archives.count(4), 1u);
  EXPECT_EQ(map.archives.at(4).RecordSize(), 20);
  EXPECT_EQ(map.archives.at(4).Records(), 100);
  EXPECT_EQ(map.archives.count(0), 0u);  // a file starts from an empty map
}

TEST(MapFile, DefaultsLineAndLaterLinesReplace) {
  DeviceMap map;
  ParseMap("defaults\nhr 3 77 ro\nname Other\n", map);
  EXPECT_EQ(map.Find(Table::kHolding, 3)->value, 77);
  EXPECT_FALSE(map.Find(Table::kHolding, 3)->writable);
  EXPECT_EQ(map.Find(Table::kHolding, 4)->value, 5);
  EXPECT_EQ(map.Size(Table::kHolding), 200u);
  EXPECT_EQ(map.name1251, "Other");
  EXPECT_EQ(map.archives.size(), 2u);
}

TEST(MapFile, BuiltInMap) {
  DeviceMap map = DefaultMap();
  EXPECT_EQ(map.Size(Table::kHolding), 200u);
  EXPECT_EQ(map.Size(Table::kInput), 200u);
  EXPECT_EQ(map.Size(Table::kCoil), 64u);
  EXPECT_EQ(map.Size(Table::kDiscreteInput), 64u);
  EXPECT_EQ(map.Find(Table::kHolding, 9)->value, 10);
  EXPECT_TRUE(map.Find(Table::kHolding, 9)->writable);
  EXPECT_FALSE(map.Find(Table::kHolding, 100)->writable);
  EXPECT_EQ(map.name1251, "Tarvo DevSim");
  EXPECT_EQ(map.status, 0x6D);
  EXPECT_EQ(map.archives.at(0).Step(), 3600);
  EXPECT_EQ(map.archives.at(1).Step(), 86400);
  EXPECT_EQ(map.archives.at(1).RecordSize(), 8);
}

struct BadLine {
  const char* text;
  const char* message;  // the whole message
};

TEST(MapFile, BadLinesNameTheirLine) {
  const BadLine cases[] = {
      {"frobnicate 1 2", "line 1: unknown item 'frobnicate'"},
      {"hr 1 2\n\nhr 70000 1", "line 3: address '70000' is not a number in 0..65535"},
      {"hr 5..3 1", "line 1: range '5..3' ends before it starts"},
      {"hr 1 abc", "line 1: register value 'abc' is not a number in -32768..65535"},
      {"hr 1 70000", "line 1: register value '70000' is not a number in -32768..65535"},
      {"hr 1", "line 1: expected 'hr ADDRESS[..LAST] VALUE [ro]'"},
      {"ir 1 2 ro", "line 1: expected 'ir ADDRESS[..LAST] VALUE'"},
      {"coil 1 2", "line 1: bit value '2' is not a number in 0..1"},
      {"di 1 ramp", "line 1: bit value 'ramp' is not a number in 0..1"},
      {"status 256", "line 1: status '256' is not a number in 0..255"},
      {"name", "line 1: expected 'name TEXT'"},
      {"archive 0 fields u16,u64 records 5 step 60",
       "line 1: unknown field type 'u64' (u32time u16 i16 u32 i32 f32)"},
      {"archive 0 fields u16 records 0 step 60",
       "line 1: record count '0' is not a number in 1..65536"},
      {"archive 0 fields u16 records 5",
       "line 1: expected 'archive N fields F,F,... records R step SECONDS'"},
  };
  for (const BadLine& c : cases) {
    DeviceMap map;
    try {
      ParseMap(c.text, map);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const MapError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.text;
    }
  }
}

TEST(MapFile, LoadNamesTheFile) {
  char path[] = "/tmp/devsim_map_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream(path) << "hr 1 2\nbad line\n";
  }
  try {
    LoadMapFile(path);
    ADD_FAILURE() << "accepted";
  } catch (const MapError& e) {
    EXPECT_EQ(std::string(e.what()), std::string(path) + ": line 2: unknown item 'bad'");
  }
  {
    std::ofstream(path) << "hr 1 2\n";
  }
  EXPECT_EQ(LoadMapFile(path).Find(Table::kHolding, 1)->value, 2);
  std::remove(path);
  EXPECT_THROW(LoadMapFile(path), MapError);
}

}  // namespace
}  // namespace tarvo::devsim
