#include "platform/storage/CompoundFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/storage/StorageError.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Every storage and stream under `node`, one sorted line each, in the form the olefile script
// prints, so the two listings compare as text.
void List(const Storage& node, const std::string& prefix, std::vector<std::string>& out) {
  for (const auto& name : node.StorageNames()) {
    out.push_back("D\t" + prefix + name);
    List(node.OpenStorage(name), prefix + name + "/", out);
  }
  for (const auto& name : node.StreamNames()) {
    std::string bytes = node.ReadStream(name);
    out.push_back("S\t" + prefix + name + "\t" + std::to_string(bytes.size()) + "\t" +
                  std::to_string(bytes.size()) + "\t" + Hex(bytes));
  }
}

std::string Listing(const Storage& root) {
  std::vector<std::string> lines;
  List(root, "", lines);
  std::sort(lines.begin(), lines.end());
  std::string out = "H\t3\t512\t64\t4096\n";
  for (const auto& l : lines) out += l + "\n";
  return out;
}

// A reader that shares no code with ours; it is strict about defects, so a file it accepts
// is one Windows tools accept too.
const char* kOlefileScript = R"PY(
import olefile, sys
o = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
lines = []
for p in o.listdir(streams=True, storages=True):
    n = '/'.join(p)
    if o.get_type(p) == olefile.STGTY_STREAM:
        d = o.openstream(p).read()
        lines.append('S\t%s\t%d\t%d\t%s' % (n, o.get_size(p), len(d), d.hex()))
    else:
        lines.append('D\t%s' % n)
lines.sort()
out = 'H\t%d\t%d\t%d\t%d\n' % (o.dll_version, o.sector_size, o.mini_sector_size,
                               o.minisectorcutoff)
out += ''.join(l + '\n' for l in lines)
sys.stdout.buffer.write(out.encode('utf-8'))
)PY";

class CompoundFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarvo-storage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::vector<std::string> FolderEntries(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  void WriteBytes(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::string OlefileListing(const std::string& path) const {
    std::string script = (dir_ / "list.py").string();
    {
      std::ofstream(script) << kOlefileScript;
    }
    // The system interpreter carries the Debian olefile package whatever PATH prefers.
    std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::string cmd = python + " '" + script + "' '" + path + "' 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = ::pclose(p);
    fs::remove(script);
    if (rc != 0) return "olefile failed (" + std::to_string(rc) + "): " + out;
    return out;
  }

  // Both our reader and olefile must see exactly `expected`.
  void ExpectReadersAgree(const std::string& path, const Storage& expected) const {
    std::string want = Listing(expected);
    EXPECT_EQ(Listing(CompoundFile::Open(path).Root()), want);
    EXPECT_EQ(OlefileListing(path), want);
  }

  fs::path dir_;
};

std::string Binary(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

// Streams on both sides of the 4096-byte small-stream cutoff and of sector edges.
void FillSample(Storage& root) {
  root.WriteStream("Empty", "");
  root.WriteStream("Small", "hello");
  root.WriteStream("Binary", std::string("\0\x01\xFF\0zero\0", 9));
  root.WriteStream("AtCutoff", Binary(4096, 1));
  root.WriteStream("Large", Binary(10000, 2));
  Storage& project = root.CreateStorage("Проект");
  project.WriteStream("Схема", "Привет, мир");
  Storage& deep = project.CreateStorage("Level2").CreateStorage("Level3");
  deep.WriteStream("Sector", Binary(512, 3));
  deep.WriteStream("JustBelowCutoff", Binary(4095, 4));
  project.CreateStorage("EmptyFolder");
  root.WriteStream("\x05SummaryInformation", Binary(64, 5));
}

TEST_F(CompoundFileTest, SavedTreeReadsBackTheSameInBothReaders) {
  std::string path = PathOf("sample.cf");
  CompoundFile file = CompoundFile::Create(path);
  FillSample(file.Root());
  file.Save();

  ExpectReadersAgree(path, file.Root());
  CompoundFile again = CompoundFile::Open(path);
  const Storage& deep = again.Root().OpenStorage("Проект").OpenStorage("Level2").OpenStorage("Level3");
  EXPECT_EQ(deep.ReadStream("JustBelowCutoff"), Binary(4095, 4));
  EXPECT_EQ(again.Root().ReadStream("Binary"), std::string("\0\x01\xFF\0zero\0", 9));
  EXPECT_EQ(again.Root().StreamSize("Empty"), 0u);
  EXPECT_EQ(ReadBytes(path).size() % 512, 0u);
}

TEST_F(CompoundFileTest, DeletingAndRewritingThenSavingAgain) {
  std::string path = PathOf("edit.cf");
  {
    CompoundFile file = CompoundFile::Create(path);
    FillSample(file.Root());
    file.Save();
  }
  CompoundFile file = CompoundFile::Open(path);
  file.Root().Delete("Large");
  file.Root().OpenStorage("Проект").Delete("Level2");
  file.Root().WriteStream("Small", Binary(5000, 6));  // grows out of the small-block stream
  file.Root().CreateStorage("New").WriteStream("Ёлка", "1");
  file.Save();

  ExpectReadersAgree(path, file.Root());
  CompoundFile again = CompoundFile::Open(path);
  EXPECT_FALSE(again.Root().HasStream("Large"));
  EXPECT_EQ(again.Root().OpenStorage("Проект").StorageNames(),
            std::vector<std::string>{"EmptyFolder"});
  EXPECT_EQ(FolderEntries(dir_), (std::vector<std::string>{"edit.cf"}));
}

TEST_F(CompoundFileTest, NestingUpToTheLimitReadsAndDeeperIsRefused) {
  for (int levels : {64, 65}) {
    std::string path = PathOf("deep" + std::to_string(levels) + ".cf");
    CompoundFile file = CompoundFile::Create(path);
    Storage* node = &file.Root();
    for (int i = 0; i < levels; ++i) node = &node->CreateStorage("L" + std::to_string(i));
    node->WriteStream("leaf", "x");
    file.Save();
    EXPECT_EQ(OlefileListing(path), Listing(file.Root())) << levels;
    if (levels == 64) {
      EXPECT_NO_THROW(CompoundFile::Open(path));
    } else {
      try {
        CompoundFile::Open(path);
        ADD_FAILURE() << "65 levels were read";
      } catch (const StorageError& e) {
        EXPECT_NE(std::string(e.what()).find("nested too deep"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      }
    }
  }
}

TEST_F(CompoundFileTest, ScratchStoresLeaveNothingBehind) {
  std::string path;
  {
    CompoundFile tmp = CompoundFile::Temporary(dir_.string());
    path = tmp.Path();
    EXPECT_TRUE(fs::exists(path));
    tmp.Root().CreateStorage("S").WriteStream("x", Binary(6000, 7));
    tmp.Save();
    ExpectReadersAgree(path, tmp.Root());
    CompoundFile moved = std::move(tmp);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(FolderEntries(dir_).empty());

  CompoundFile mem = CompoundFile::InMemory();
  FillSample(mem.Root());
  EXPECT_THROW(mem.Save(), StorageError);
  CompoundFile copy = CompoundFile::OpenBytes(mem.ToBytes());
  EXPECT_EQ(Listing(copy.Root()), Listing(mem.Root()));
  EXPECT_TRUE(FolderEntries(dir_).empty());
}

// A failed save must leave the old target as it was and no temporary file beside it.
class FailedSaveTest : public CompoundFileTest {
 protected:
  void ExpectFailureKeeps(CompoundFile& file, const std::string& target) {
    try {
      file.Save();
      ADD_FAILURE() << "save succeeded";
    } catch (const StorageError& e) {
      EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << e.what();
    }
  }
};

TEST_F(FailedSaveTest, TargetIsAFolder) {
  std::string target = PathOf("folder.cf");
  fs::create_directory(target);
  WriteBytes(target + "/inside", "keep");
  CompoundFile file = CompoundFile::Create(target);
  FillSample(file.Root());
  ExpectFailureKeeps(file, target);
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_EQ(ReadBytes(target + "/inside"), "keep");
  EXPECT_EQ(FolderEntries(dir_), (std::vector<std::string>{"folder.cf"}));
}

TEST_F(FailedSaveTest, WriteFailsHalfway) {
  std::string target = PathOf("old.cf");
  CompoundFile file = CompoundFile::Create(target);
  file.Root().WriteStream("v", "1");
  file.Save();
  std::string before = ReadBytes(target);

  // A file-size limit makes the write itself fail, even for root.
  file.Root().WriteStream("big", Binary(200000, 8));
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ExpectFailureKeeps(file, target);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);

  EXPECT_EQ(ReadBytes(target), before);
  EXPECT_EQ(FolderEntries(dir_), (std::vector<std::string>{"old.cf"}));
  EXPECT_EQ(CompoundFile::Open(target).Root().ReadStream("v"), "1");
}

TEST_F(FailedSaveTest, FolderNotWritable) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  fs::path sub = dir_ / "ro";
  fs::create_directory(sub);
  std::string target = (sub / "old.cf").string();
  CompoundFile file = CompoundFile::Create(target);
  file.Root().WriteStream("v", "1");
  file.Save();
  std::string before = ReadBytes(target);
  fs::permissions(sub, fs::perms::owner_read | fs::perms::owner_exec);
  file.Root().WriteStream("v", "2");
  ExpectFailureKeeps(file, target);
  fs::permissions(sub, fs::perms::owner_all);
  EXPECT_EQ(ReadBytes(target), before);
  EXPECT_EQ(FolderEntries(sub), (std::vector<std::string>{"old.cf"}));
}

TEST_F(CompoundFileTest, DamagedInputIsReportedNotFollowed) {
  std::string good;
  {
    CompoundFile mem = CompoundFile::InMemory();
    FillSample(mem.Root());
    good = mem.ToBytes();
  }
  ASSERT_GT(good.size(), 4096u);
  std::string header_then_garbage = good.substr(0, 512) + Binary(good.size() - 512, 9);
  std::string wild_directory = good;
  // Point the first directory sector far past the end of the file.
  wild_directory.replace(48, 4, "\xF0\xFF\xFF\x7F", 4);
  std::string looping_fat = good;
  // Make the first FAT sector chain to itself.
  looping_fat.replace(76, 4, std::string(4, '\0'));

  struct Case {
    std::string name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"empty", ""},
      {"random", Binary(4096, 10)},
      {"text", "this is not a compound file at all\n"},
      {"header only", good.substr(0, 512)},
      {"truncated half", good.substr(0, good.size() / 2)},
      {"truncated by one", good.substr(0, good.size() - 1)},
      {"header then garbage", header_then_garbage},
      {"wild directory", wild_directory},
      {"looping fat", looping_fat},
  };
  for (const auto& c : cases) {
    std::string path = PathOf("bad.cf");
    WriteBytes(path, c.bytes);
    for (bool from_file : {true, false}) {
      try {
        CompoundFile f = from_file ? CompoundFile::Open(path) : CompoundFile::OpenBytes(c.bytes, path);
        // Some cuts leave every entry readable; then the tree must at least walk cleanly.
        std::vector<std::string> lines;
        List(f.Root(), "", lines);
        EXPECT_NE(c.name, "empty");
        EXPECT_NE(c.name, "random");
      } catch (const StorageError& e) {
        std::string what = e.what();
        EXPECT_EQ(what.rfind(path + ": ", 0), 0u) << c.name << ": " << what;
        EXPECT_TRUE(what.find("Not a compound file") != std::string::npos ||
                    what.find("Damaged compound file") != std::string::npos)
            << c.name << ": " << what;
      }
    }
  }
  EXPECT_THROW(CompoundFile::Open(PathOf("missing.cf")), StorageError);
}

}  // namespace
}  // namespace tarvo
