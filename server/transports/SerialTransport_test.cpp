// The serial transports over a real pseudo-terminal whose other side the test plays as the device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "server/core/testing/Eventually.h"
#include "server/core/testing/FakeWorkers.h"
#include "server/transports/RS232Transport.h"
#include "server/transports/RS485Transport.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

using testing::Eventually;

// The far end of the line: collects each frame (ended by 10 ms of quiet) and answers it with
// chunks of bytes, each followed by a pause.
class PtyDevice {
 public:
  struct Chunk {
    Bytes bytes;
    int pauseMs = 0;
  };
  using Answer = std::function<std::vector<Chunk>(const Bytes&)>;
  void SetAnswer(Answer a) {
    std::lock_guard l(lock_);
    answer_ = std::move(a);
  }

  PtyDevice() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) throw std::runtime_error("no pty");
    path_ = ptsname(fd_);
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyDevice() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  const std::string& Path() const { return path_; }
  std::vector<Bytes> Frames() {
    std::lock_guard l(lock_);
    return frames_;
  }

 private:
  void Run() {
    Bytes frame;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      const int r = poll(&p, 1, 10);
      if (r > 0 && (p.revents & POLLIN)) {
        std::uint8_t buf[256];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) frame.insert(frame.end(), buf, buf + n);
        continue;
      }
      if (r > 0) std::this_thread::sleep_for(5ms);  // the other side is not open yet
      if (frame.empty()) continue;
      {
        std::lock_guard l(lock_);
        frames_.push_back(frame);
      }
      Answer answer;
      {
        std::lock_guard l(lock_);
        answer = answer_;
      }
      if (answer) {
        for (const Chunk& c : answer(frame)) {
          if (!c.bytes.empty() && write(fd_, c.bytes.data(), c.bytes.size()) < 0) break;
          if (c.pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
        }
      }
      frame.clear();
    }
  }

  int fd_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<Bytes> frames_;
  Answer answer_;
};

class SerialMaker : public IWorkerMaker {
 public:
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    if (type == ttRS232) return std::make_shared<TRS232Transport>(dir);
    if (type == ttRS485) return std::make_shared<TRS485Transport>(dir);
    return nullptr;
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t, IWorkerDirectory& dir) override {
    return std::make_shared<testing::FakeMaster>(dir);
  }
};

Variant RS232(const std::string& port, int speed = ts19200, int answerDelay = 1000,
              int byteTimeout = 0, int flow = cfcNone) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(int(ttRS232)), Variant(port), Variant(speed),
                                            Variant(flow), Variant(answerDelay),
                                            Variant(byteTimeout), Variant(1)}));
}

Variant RS485(const std::string& port, int speed = ts19200, int answerDelay = 1000,
              int byteTimeout = 0) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(int(ttRS485)), Variant(port), Variant(speed),
                                            Variant(answerDelay), Variant(byteTimeout),
                                            Variant(1)}));
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("tarvo-serial-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "Tarvo/TarvoSrv");
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir); }

  void WriteSettings(const std::string& text) {
    std::ofstream(dir / "Tarvo/TarvoSrv/TarvoSrv.ini", std::ios::binary) << text;
  }

  // A master on a link opened from props; replies are [QID, bytes].
  std::shared_ptr<testing::FakeMaster> MasterOn(const Variant& props) {
    trID = factory.CreateTransportInplace(props);
    if (trID == kNoID) return nullptr;
    const std::int32_t id = factory.CreateMaster(
        testing::MasterProps(),
        [this](const Variant& r) {
          std::lock_guard l(lock);
          Bytes b;
          for (const Variant& v : r.Array().At(1).Array().Items())
            b.push_back(static_cast<std::uint8_t>(v.ToInt32()));
          replies.push_back(b);
        },
        nullptr);
    auto m = std::static_pointer_cast<testing::FakeMaster>(factory.GetMaster(id));
    m->SetTransportID(trID);
    return m;
  }
  std::vector<Bytes> Replies() {
    std::lock_guard l(lock);
    return replies;
  }

  fs::path dir;
  PtyDevice device;
  SerialMaker maker;
  std::mutex lock;
  std::vector<Bytes> replies;
  TServerFactory factory{maker};
  std::int32_t trID = kNoID;
};

TEST_F(SerialTest, FrameOutAnswerBack) {
  device.SetAnswer([](const Bytes& f) { return std::vector<PtyDevice::Chunk>{{Bytes(f.rbegin(), f.rend())}}; });
  auto m = MasterOn(RS232(device.Path()));
  ASSERT_TRUE(m);
  m->Send(1, {1, 2, 3, 4});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  EXPECT_EQ(Replies()[0], (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(device.Frames(), (std::vector<Bytes>{{1, 2, 3, 4}}));
}

TEST_F(SerialTest, NoAnswerWithinTheAnswerDelay) {
  auto m = MasterOn(RS232(device.Path(), ts19200, 100));
  m->Send(1, {1, 2});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  EXPECT_TRUE(Replies()[0].empty());
}

// At 19200 bit/s the answer ends after 3 × 5 = 15 ms of quiet: a device that pauses 20 ms gives
// two answers; the second part is thrown away by the next frame.
TEST_F(SerialTest, PauseInTheMiddleEndsTheAnswer) {
  int calls = 0;
  device.SetAnswer([&](const Bytes&) {
    if (++calls == 1) return std::vector<PtyDevice::Chunk>{{{0xA1, 0xA2}, 20}, {{0xA3, 0xA4}}};
    return std::vector<PtyDevice::Chunk>{{{0xB1}}};
  });
  auto m = MasterOn(RS232(device.Path()));
  m->Send(1, {1});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  EXPECT_EQ(Replies()[0], (Bytes{0xA1, 0xA2}));
  std::this_thread::sleep_for(100ms);  // the rest of the first answer is in the queue now
  m->Send(2, {2});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 2; }));
  EXPECT_EQ(Replies()[1], (Bytes{0xB1}));
}

TEST_F(SerialTest, MultiplierZeroEndsTheAnswerAtTheFirstPause) {
  WriteSettings("[Com]\r\nByteTimeoutMultiplier=0\r\n");
  device.SetAnswer([](const Bytes&) {
    return std::vector<PtyDevice::Chunk>{{{0xA1}, 5}, {{0xA2}}};
  });
  auto m = MasterOn(RS232(device.Path()));
  m->Send(1, {1});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  EXPECT_EQ(Replies()[0], (Bytes{0xA1}));
}

TEST_F(SerialTest, InterByteTimeoutIsTheLargerOfGapAndElement) {
  struct Case {
    int speed, element, expected;
  } cases[] = {{ts9600, 10, 10}, {ts9600, 2, 5}, {ts1200, 0, 33}, {ts115200, 7, 7}};
  for (const Case& c : cases) {
    TRS232Transport tr(factory);
    tr.SetProps(RS232(device.Path(), c.speed, 1000, c.element));
    EXPECT_EQ(tr.ByteTimeout(), c.expected) << c.speed << " " << c.element;
    EXPECT_EQ(tr.ByteTimeoutMultiplier(), 5);
  }
}

TEST_F(SerialTest, RS485ArrayHasNoFlowControlAndDelaysDoNotSeparateLinks) {
  TRS485Transport tr(factory);
  tr.SetProps(RS485(device.Path(), ts9600, 700, 12));
  EXPECT_EQ(tr.AnswerDelay(), 700);  // element 3
  EXPECT_EQ(tr.ByteTimeout(), 12);
  EXPECT_EQ(tr.LastByteTime(), 5);
  EXPECT_TRUE(tr.CompareProps(RS485(device.Path(), ts9600, 50, 1)));
  EXPECT_FALSE(tr.CompareProps(RS485(device.Path(), ts19200)));
  EXPECT_FALSE(tr.CompareProps(RS232(device.Path(), ts9600)));

  TRS232Transport r(factory);
  r.SetProps(RS232(device.Path(), ts9600));
  EXPECT_TRUE(r.CompareProps(RS232(device.Path(), ts9600, 50, 9)));
  EXPECT_FALSE(r.CompareProps(RS232(device.Path(), ts9600, 1000, 0, cfcHardware)));

  // Through the factory: one link, kept with the settings of the client that opened it.
  const std::int32_t a = factory.CreateTransportInplace(RS485(device.Path(), ts9600, 700));
  const std::int32_t b = factory.CreateTransportInplace(RS485(device.Path(), ts9600, 50));
  ASSERT_NE(a, kNoID);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::static_pointer_cast<TRS485Transport>(factory.GetTransport(a))->AnswerDelay(), 700);
}

TEST_F(SerialTest, RS485ExchangeWorksWithRts) {
  device.SetAnswer([](const Bytes& f) { return std::vector<PtyDevice::Chunk>{{f}}; });
  auto m = MasterOn(RS485(device.Path()));
  ASSERT_TRUE(m);
  m->Send(1, {7, 8});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  EXPECT_EQ(Replies()[0], (Bytes{7, 8}));
}

TEST_F(SerialTest, LinksThatCannotBeOpened) {
  EXPECT_EQ(factory.CreateTransportInplace(RS232((dir / "no-such-port").string())), kNoID);
  EXPECT_EQ(factory.CreateTransportInplace(RS232(device.Path(), tsOther)), kNoID);
  EXPECT_EQ(factory.TransportCount(), 0);
}

TEST_F(SerialTest, SecondOpenOfAPortInUseFails) {
  ASSERT_NE(factory.CreateTransportInplace(RS232(device.Path(), ts19200)), kNoID);
  TRS232Transport other(factory);
  other.SetProps(RS232(device.Path(), ts9600));  // another speed: not the same link
  EXPECT_FALSE(other.Connect(nullptr));
}

}  // namespace
}  // namespace tarvo
