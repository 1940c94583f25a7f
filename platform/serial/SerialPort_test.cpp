#include "platform/serial/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/serial/PseudoTerminal.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kLong = 5s;  // a bound that fails a test rather than hangs it

// Lets a test wait, bounded, for something a callback on the event thread records.
class Recorder {
 public:
  void Add(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(m_);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    ++calls_;
    cv_.notify_all();
  }
  void Count() { Add({}); }
  bool WaitFor(std::size_t bytes, int calls) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, kLong,
                        [&] { return bytes_.size() >= bytes && calls_ >= calls; });
  }
  std::vector<std::uint8_t> Bytes() {
    std::lock_guard lock(m_);
    return bytes_;
  }
  int Calls() {
    std::lock_guard lock(m_);
    return calls_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::uint8_t> bytes_;
  int calls_ = 0;
};

std::vector<std::uint8_t> AllByteValues() {
  std::vector<std::uint8_t> v;
  for (int i = 0; i < 256; ++i) v.push_back(static_cast<std::uint8_t>(i));
  return v;
}

class SerialPortTest : public testing::Test {
 protected:
  // Hooks the reader before Open, as the callbacks require.
  void OpenDraining() {
    port_.OnRxChar = [this] {
      std::vector<std::uint8_t> chunk(port_.InputCount() + 1);
      const int n = port_.Read(chunk.data(), static_cast<int>(chunk.size()));
      chunk.resize(n);
      rx_.Add(chunk);
    };
    port_.Open(pty_.SlavePath(), 115200, false);
  }

  void WriteAll(const std::vector<std::uint8_t>& bytes) {
    for (auto b : bytes) ASSERT_TRUE(port_.WriteByte(b));
  }

  PseudoTerminal pty_;
  SerialPort port_;
  Recorder rx_;
};

TEST_F(SerialPortTest, OpenCloseAndReopenCarryDataEachTime) {
  EXPECT_FALSE(port_.IsOpen());
  for (int round = 0; round < 3; ++round) {
    port_.Open(pty_.SlavePath(), 9600, round == 1);
    EXPECT_TRUE(port_.IsOpen());
    const std::vector<std::uint8_t> msg = {0x01, static_cast<std::uint8_t>(round), 0xFE};
    WriteAll(msg);
    EXPECT_EQ(pty_.Receive(msg.size()), msg) << "round " << round;
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
    port_.Close();  // idempotent
  }
}

TEST_F(SerialPortTest, OpenOnAnOpenPortReopens) {
  port_.Open(pty_.SlavePath(), 9600, false);
  port_.Open(pty_.SlavePath(), 19200, false);  // would be "in use" if the first stayed open
  EXPECT_TRUE(port_.IsOpen());
  WriteAll({0x42});
  EXPECT_EQ(pty_.Receive(1), std::vector<std::uint8_t>{0x42});
}

TEST_F(SerialPortTest, EveryByteValueCrossesUntranslatedBothWays) {
  OpenDraining();
  const auto all = AllByteValues();  // line breaks, XON/XOFF, interrupt keys included

  WriteAll(all);
  EXPECT_EQ(pty_.Receive(all.size()), all);

  pty_.Send(all);
  ASSERT_TRUE(rx_.WaitFor(all.size(), 1));
  EXPECT_EQ(rx_.Bytes(), all);
  EXPECT_EQ(port_.InputCount(), 0);
}

TEST_F(SerialPortTest, ReadWithoutCallbackIsNonBlocking) {
  port_.Open(pty_.SlavePath(), 9600, false);
  std::uint8_t buf[8];
  EXPECT_EQ(port_.Read(buf, sizeof buf), 0);
  EXPECT_EQ(port_.InputCount(), 0);

  pty_.Send({1, 2, 3});
  const auto deadline = Clock::now() + kLong;
  while (port_.InputCount() < 3 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(port_.InputCount(), 3);
  ASSERT_EQ(port_.Read(buf, 2), 2);
  EXPECT_EQ(port_.InputCount(), 1);
  ASSERT_EQ(port_.Read(buf + 2, 8), 1);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 3), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(SerialPortTest, TxEmptyFollowsWritesOnly) {
  Recorder tx;
  port_.OnTxEmpty = [&] { tx.Count(); };
  port_.Open(pty_.SlavePath(), 115200, false);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(tx.Calls(), 0) << "nothing was written yet";

  WriteAll({1, 2, 3});
  ASSERT_TRUE(tx.WaitFor(0, 1));
  EXPECT_EQ(pty_.Receive(3).size(), 3u);

  const int before = tx.Calls();
  WriteAll({4});
  EXPECT_TRUE(tx.WaitFor(0, before + 1)) << "each later write is reported again";
}

TEST_F(SerialPortTest, SecondOpenOfTheSameDeviceIsRefusedUntilTheFirstCloses) {
  port_.Open(pty_.SlavePath(), 9600, false);
  SerialPort other;
  try {
    other.Open(pty_.SlavePath(), 9600, false);
    FAIL() << "second open succeeded";
  } catch (const SerialError& e) {
    EXPECT_NE(std::string(e.what()).find(pty_.SlavePath()), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.IsOpen());
  EXPECT_TRUE(port_.IsOpen());

  port_.Close();
  other.Open(pty_.SlavePath(), 9600, false);
  EXPECT_TRUE(other.IsOpen());
}

TEST_F(SerialPortTest, OpenFailuresNameThePathAndTheCause) {
  const struct {
    std::string path;
    int baud;
    const char* cause;
  } cases[] = {
      {"/dev/ttyS-no-such-device", 9600, "No such file or directory"},
      {pty_.SlavePath(), 12345, "unsupported baud rate 12345"},
      {pty_.SlavePath(), 0, "unsupported baud rate 0"},
      {"/dev/null", 9600, "Inappropriate ioctl for device"},  // exists, but is no terminal
  };
  for (const auto& c : cases) {
    try {
      port_.Open(c.path, c.baud, false);
      ADD_FAILURE() << c.path << " @" << c.baud << " opened";
    } catch (const SerialError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what, "Cannot open " + c.path + ": " + c.cause) << what;
    }
    EXPECT_FALSE(port_.IsOpen());
  }
  // A failed open leaves nothing locked behind.
  port_.Open(pty_.SlavePath(), 9600, false);
  EXPECT_TRUE(port_.IsOpen());
}

TEST(SerialPortBaud, OnlyTheTableIsSupported) {
  for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
    EXPECT_TRUE(SerialPort::IsSupportedBaud(baud)) << baud;
  for (int baud : {0, 110, 300, 600, 14400, 28800, 230400, 921600, -9600})
    EXPECT_FALSE(SerialPort::IsSupportedBaud(baud)) << baud;
}

TEST_F(SerialPortTest, ClosedPortRefusesQuietly) {
  std::uint8_t b = 0;
  for (int pass = 0; pass < 2; ++pass) {  // never opened, then opened and closed
    EXPECT_EQ(port_.InputCount(), 0);
    EXPECT_EQ(port_.Read(&b, 1), 0);
    EXPECT_FALSE(port_.WriteByte(1));
    EXPECT_FALSE(port_.SetFormat(SerialFormat{}));
    EXPECT_NO_THROW(port_.SetRTS(true));
    EXPECT_NO_THROW(port_.PurgeOutput());
    port_.Open(pty_.SlavePath(), 9600, false);
    port_.Close();
  }
}

TEST_F(SerialPortTest, ModemControlAndPurgeAreToleratedOnAPseudoTerminal) {
  port_.Open(pty_.SlavePath(), 9600, true);
  EXPECT_NO_THROW(port_.SetRTS(true));
  EXPECT_NO_THROW(port_.SetRTS(false));
  EXPECT_NO_THROW(port_.PurgeOutput());
  WriteAll({7});
  EXPECT_EQ(pty_.Receive(1), std::vector<std::uint8_t>{7});
}

// A pseudo-terminal drops the data-bits and parity-enable flags, and some kernels refuse those
// frames outright; the other frame flags do reach it. The full flag table is checked against
// ApplyFormat in its own test.
using FrameCase = std::tuple<int, SerialParity, SerialStopBits>;
class SerialPortFormatTest : public testing::TestWithParam<FrameCase> {};

TEST_P(SerialPortFormatTest, ReachesTheDeviceOrReportsWhyNot) {
  PseudoTerminal pty;
  // Opened before the port: an exclusive port refuses later opens, not earlier ones.
  UniqueFd observer(::open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK));
  ASSERT_TRUE(observer.Valid());
  SerialPort port;
  port.Open(pty.SlavePath(), 9600, false);
  termios before{};
  ASSERT_EQ(::tcgetattr(observer.Get(), &before), 0);

  const auto& [bits, parity, stop] = GetParam();
  const bool applied = port.SetFormat(SerialFormat{bits, parity, stop});
  termios t{};
  ASSERT_EQ(::tcgetattr(observer.Get(), &t), 0);

  if (stop == SerialStopBits::OneAndHalf) {
    EXPECT_FALSE(applied) << "one and a half is only approximated";
  } else if (!applied) {
    EXPECT_EQ(t.c_cflag, before.c_cflag) << "a refused frame must leave the line as it was";
    return;
  }
  if (stop != SerialStopBits::One) {
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  } else {
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  }
  const bool odd = parity == SerialParity::Odd || parity == SerialParity::Mark;
  const bool sticky = parity == SerialParity::Mark || parity == SerialParity::Space;
  EXPECT_EQ((t.c_cflag & PARODD) != 0, odd);
  EXPECT_EQ((t.c_cflag & CMSPAR) != 0, sticky);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u) << "a frame change must not undo the line setup";
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(::cfgetospeed(&t), speed_t{B9600});
}

INSTANTIATE_TEST_SUITE_P(
    EveryFrame, SerialPortFormatTest,
    testing::Combine(testing::Values(5, 6, 7, 8),
                     testing::Values(SerialParity::None, SerialParity::Odd, SerialParity::Even,
                                     SerialParity::Mark, SerialParity::Space),
                     testing::Values(SerialStopBits::One, SerialStopBits::OneAndHalf,
                                     SerialStopBits::Two)));

TEST_F(SerialPortTest, CloseWakesTheEventThreadAtOnce) {
  OpenDraining();
  std::this_thread::sleep_for(20ms);  // let the thread settle into its wait
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    port_.Close();
    EXPECT_LT(Clock::now() - start, 500ms) << "round " << round;  // ten idle polls
    port_.Open(pty_.SlavePath(), 9600, false);
  }
}

TEST_F(SerialPortTest, CallbackThatLeavesDataDoesNotSpin) {
  Recorder calls;
  port_.OnRxChar = [&] { calls.Count(); };
  port_.Open(pty_.SlavePath(), 9600, false);
  pty_.Send({1, 2, 3});
  ASSERT_TRUE(calls.WaitFor(0, 1));
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(calls.Calls(), 300) << "a spinning loop calls back many thousands of times";
  EXPECT_EQ(port_.InputCount(), 3) << "the data stays for a later read";
}

TEST_F(SerialPortTest, HangUpOfTheFarEndStopsCallbacksAndStillCloses) {
  Recorder calls;
  port_.OnRxChar = [&] {
    std::uint8_t buf[64];
    port_.Read(buf, sizeof buf);
    calls.Count();
  };
  port_.Open(pty_.SlavePath(), 9600, false);
  pty_.CloseMaster();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(calls.Calls(), 100);
  EXPECT_FALSE(port_.WriteByte(1));

  const auto start = Clock::now();
  port_.Close();
  EXPECT_LT(Clock::now() - start, 500ms);
}

TEST_F(SerialPortTest, WriteGivesUpWhenTheFarEndNeverReads) {
  port_.Open(pty_.SlavePath(), 115200, false);
  const auto start = Clock::now();
  bool refused = false;
  for (int i = 0; i < 1'000'000 && !refused; ++i) refused = !port_.WriteByte(0x55);
  EXPECT_TRUE(refused) << "the line buffer never filled";
  EXPECT_LT(Clock::now() - start, 30s);
  EXPECT_TRUE(port_.IsOpen());
  port_.PurgeOutput();
}

TEST_F(SerialPortTest, CloseFromAnotherThreadWhileDataStreams) {
  OpenDraining();
  std::atomic<bool> done{false};
  std::thread sender([&] {
    const std::uint8_t pair[] = {0xAA, 0x55};
    while (!done) {
      // Unchecked: the buffer may fill once the port has closed.
      [[maybe_unused]] ssize_t n = ::write(pty_.MasterFd(), pair, sizeof pair);
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_TRUE(rx_.WaitFor(16, 1));
  std::thread closer([&] { port_.Close(); });
  closer.join();
  done = true;
  sender.join();
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(SerialPortTest, CloseFromItsOwnCallbackStopsTheThread) {
  Recorder calls;
  port_.OnRxChar = [&] {
    port_.Close();
    calls.Count();
  };
  port_.Open(pty_.SlavePath(), 9600, false);
  pty_.Send({1});
  ASSERT_TRUE(calls.WaitFor(0, 1));
  EXPECT_FALSE(port_.IsOpen());
  port_.Close();  // finishes the job from outside
  port_.OnRxChar = nullptr;
  port_.Open(pty_.SlavePath(), 9600, false);
  EXPECT_TRUE(port_.IsOpen());
}

}  // namespace
}  // namespace tarvo
