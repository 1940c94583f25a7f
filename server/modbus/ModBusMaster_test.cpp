#include "server/modbus/ModBusMaster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/sync/Event.h"
#include "platform/sync/FakeClock.h"
#include "server/core/ReplyArray.h"
#include "server/core/testing/Eventually.h"
#include "server/core/testing/FakeWorkers.h"
#include "server/modbus/ModbusTestUtil.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::Arr;
using testing::FakeLinkScript;
using testing::FakeTransport;
using testing::LinkProps;
using testing::Req;

using testing::Eventually;

// Fake links, and ModBus masters on the test's clock.
class ModbusMaker : public IWorkerMaker {
 public:
  ModbusMaker(FakeLinkScript& script, Clock& clock) : script_(script), clock_(clock) {}
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    return std::make_shared<FakeTransport>(dir, static_cast<TTransportType>(type), script_);
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t type, IWorkerDirectory& dir) override {
    if (type != mtMB) return nullptr;
    return std::make_shared<TModBusMaster>(dir, tenBits, clock_);
  }
  bool tenBits = true;

 private:
  FakeLinkScript& script_;
  Clock& clock_;
};

struct Reply {
  int callType, qid, result;
  Variant value;
};

class MasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The device: answers reads with register k holding k + 1, status with 6D, writes with
    // their echo; it records when each frame came (on the test clock) and with what settings.
    script.answer = [this](const TBaseTransportTask& t, std::vector<std::uint8_t>& reply) {
      sentAt.push_back(clock.NowMs());
      sentProps.push_back(t.Props);
      if (answerDelay) clock.Advance(answerDelay);
      if (silent) return false;
      std::vector<std::uint8_t> pdu{t.Buf[0], t.Buf[1]};
      switch (t.Buf[1]) {
        case 3: case 4:
          pdu.push_back(static_cast<std::uint8_t>(2 * t.Buf[5]));
          for (int k = 0; k < t.Buf[5]; ++k) {
            pdu.push_back(0);
            pdu.push_back(static_cast<std::uint8_t>(k + 1));
          }
          break;
        case 7: pdu.push_back(0x6D); break;
        default: pdu.insert(pdu.end(), t.Buf.begin() + 2, t.Buf.begin() + t.Bufsize - 2);
      }
      TFrameBuf frame;
      const int len = MakeFrame(pdu.data(), static_cast<int>(pdu.size()), mmRTU, frame);
      reply.assign(frame.begin(), frame.begin() + len);
      return true;
    };
    trID = factory.CreateTransportInplace(LinkProps(ttRS232, "COM1"));
    ASSERT_NE(trID, kNoID);
  }

  std::shared_ptr<TModBusMaster> Master(int retries = 1, int addr = 1, int parity = mpNone) {
    const Variant props = Arr({mtMB, addr, mmRTU, parity, retries, false, false});
    const std::int32_t id = factory.CreateMaster(
        props,
        [this](const Variant& r) {
          const SafeArray& a = r.Array();
          std::lock_guard l(lock);
          replies.push_back({a.At(riCallType).ToInt32(), a.At(riQID).ToInt32(),
                             a.At(riResult).ToInt32(), a.At(riValue)});
        },
        nullptr);
    auto m = std::static_pointer_cast<TModBusMaster>(factory.GetMaster(id));
    m->SetTransportID(trID);
    return m;
  }

  static Variant Read(int qid, int addr, int period = 0, int count = 1) {
    return Req({mbReadHoldRegs, qid, period, addr, int(dtUnsignedWord), count});
  }

  std::vector<Reply> Replies() {
    std::lock_guard l(lock);
    return replies;
  }
  std::size_t ReplyCount() { return Replies().size(); }
  // The register address of every frame sent, in order.
  std::vector<int> SentAddresses() {
    std::lock_guard l(script.lock);
    std::vector<int> out;
    for (const auto& f : script.sent) out.push_back(f.size() >= 4 ? f[2] << 8 | f[3] : -1);
    return out;
  }

  FakeClock clock{1000};
  FakeLinkScript script;
  ModbusMaker maker{script, clock};
  // Written by the transport's thread inside RunTask, read by the test once it settled.
  std::vector<std::uint64_t> sentAt;
  std::vector<std::uint32_t> sentProps;
  std::atomic<std::uint32_t> answerDelay{0};
  std::atomic<bool> silent{false};
  std::mutex lock;
  std::vector<Reply> replies;
  // Lets a test hold the master's thread inside a delivery; outlives the factory's workers.
  Event release{true};
  std::atomic<bool> blocking{false};
  TServerFactory factory{maker};
  std::int32_t trID = kNoID;
};

TEST_F(MasterTest, MasterLevelAttempts) {
  silent = true;
  for (int retries : {3, 1, 0}) {
    {
      std::lock_guard l(script.lock);
      script.sent.clear();
    }
    auto m = Master(retries);
    m->AddTask(Read(retries, 0));
    ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; })) << retries;
    EXPECT_EQ(Replies()[0].result, mbcNoAnswer);
    EXPECT_TRUE(Replies()[0].value.IsEmpty());
    EXPECT_EQ(script.SentCount(), static_cast<std::size_t>(std::max(retries, 1))) << retries;
    std::lock_guard l(lock);
    replies.clear();
  }
}

TEST_F(MasterTest, ReadsAndDecodes) {
  auto m = Master();
  m->AddTask(Read(7, 100, 0, 2));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));
  const Reply r = Replies()[0];
  EXPECT_EQ(r.qid, 7);
  EXPECT_EQ(r.result, mbcOK);
  EXPECT_EQ(r.value, Variant(SafeArray::Of(VT_UI2, {testing::U16(1), testing::U16(2)})));
  EXPECT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
}

TEST_F(MasterTest, PeriodIsMeasuredFromTheAnswer) {
  answerDelay = 200;
  auto m = Master();
  m->AddTask(Read(1, 0, 1000));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));
  for (std::size_t n = 2; n <= 3; ++n) {
    ASSERT_TRUE(clock.WaitForWaiters(1));
    clock.Advance(1000);
    ASSERT_TRUE(Eventually([&] { return ReplyCount() == n; }));
  }
  ASSERT_TRUE(clock.WaitForWaiters(1));
  EXPECT_EQ(sentAt, (std::vector<std::uint64_t>{1000, 2200, 3400}));
}

TEST_F(MasterTest, OneShotGoesBeforeQueuedPeriodicRequests) {
  auto m = Master();
  {
    // Holding the master's lock keeps its thread from taking any of them until all are queued.
    std::lock_guard hold(m->LockObject());
    m->AddTask(Read(1, 0x10, 1000));
    m->AddTask(Read(2, 0x20, 1000));
    m->AddTask(Read(3, 0x30));
  }
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 3; }));
  EXPECT_EQ(SentAddresses(), (std::vector<int>{0x30, 0x10, 0x20}));
}

// A poll of 10 s must not slow down a poll of 1 s queued behind it.
TEST_F(MasterTest, DuePeriodicRequestGoesFirst) {
  auto m = Master();
  m->AddTask(Read(10, 0x10, 10000));
  m->AddTask(Read(1, 0x01, 1000));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 2; }));
  for (std::size_t n = 3; n <= 7; ++n) {
    ASSERT_TRUE(clock.WaitForWaiters(1));
    clock.Advance(1000);
    ASSERT_TRUE(Eventually([&] { return ReplyCount() == n; })) << n;
  }
  EXPECT_EQ(SentAddresses(), (std::vector<int>{0x10, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}));
  ASSERT_TRUE(clock.WaitForWaiters(1));
  clock.Advance(5000);  // both are due now; the 1 s poll has waited longer, so it goes first
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 9; }));
  EXPECT_EQ(SentAddresses()[7], 0x01);
  EXPECT_EQ(SentAddresses()[8], 0x10);
}

TEST_F(MasterTest, CancellingASentRequestDropsItsAnswerAndItsRepetition) {
  auto m = Master();
  script.SetGate(false);
  m->AddTask(Read(5, 0, 1000));
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  m->CancelTask(5);
  script.SetGate(true);
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  clock.Advance(5000);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ReplyCount(), 0u);
  EXPECT_EQ(script.SentCount(), 1u);
}

// Cancelling while an answer waits to be parsed must not leave the cancelled request behind to
// take the answer of the next request with the same QID.
TEST_F(MasterTest, CancelWithAnAnswerQueuedLosesNoLaterReply) {
  const Variant props = Arr({mtMB, 1, mmRTU, mpNone, 1, false, false});
  const std::int32_t id = factory.CreateMaster(
      props,
      [&](const Variant& r) {
        if (r.Array().At(riQID).ToInt32() == 100) {
          blocking = true;
          release.Wait(5000);  // the master's thread is held in delivery
        }
        std::lock_guard l(lock);
        replies.push_back({0, r.Array().At(riQID).ToInt32(), r.Array().At(riResult).ToInt32(), {}});
      },
      nullptr);
  auto m = std::static_pointer_cast<TModBusMaster>(factory.GetMaster(id));
  m->SetTransportID(trID);
  auto tr = factory.GetTransport(trID);
  script.SetGate(false);
  m->AddTask(Read(100, 0));
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  m->AddTask(Read(1, 1));
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 2; }));  // both on the link
  script.SetGate(true);
  ASSERT_TRUE(Eventually([&] { return blocking && tr->TasksProcessed() == 2; }));
  m->CancelAllTasks();  // request 1 is in the wait list, its answer queued behind the delivery
  release.Set();
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));
  m->AddTask(Read(1, 1));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 2; }));
  EXPECT_EQ(Replies()[1].qid, 1);
  EXPECT_EQ(Replies()[1].result, mbcOK);
}

TEST_F(MasterTest, RefusedRequestIsAnsweredAndTheMasterGoesOn) {
  auto m = Master();
  m->AddTask(Req({mbCustom, 5}));
  m->AddTask(Read(6, 0));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 2; }));
  const auto r = Replies();
  EXPECT_EQ(r[0].qid, 5);
  EXPECT_EQ(r[0].callType, mbCustom);
  EXPECT_EQ(r[0].result, mbcWrongType);
  EXPECT_EQ(r[1].result, mbcOK);
  EXPECT_EQ(script.SentCount(), 1u);
}

TEST_F(MasterTest, BroadcastIsSentWithoutWaiting) {
  auto m = Master(1, 0);
  m->AddTask(Req({mbWriteHoldRegs, 9, 0, 4, testing::U16(5)}));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));
  EXPECT_EQ(Replies()[0].result, mbcOK);
  EXPECT_TRUE(sentAt.empty());  // the device was never asked for an answer
  EXPECT_EQ(script.SentCount(), 1u);
}

TEST_F(MasterTest, VanishedTransportAnswersEveryWaitingRequest) {
  auto m = Master();
  script.SetGate(false);
  m->AddTask(Read(1, 1));
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  m->AddTask(Read(2, 2));
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 2; }));  // both sent to the link
  auto tr = factory.GetTransport(trID);
  factory.ReleaseTransport(trID);
  ASSERT_TRUE(Eventually([&] { return tr->Closing(); }));
  script.SetGate(true);
  ASSERT_TRUE(factory.WaitIdle(5000));
  tr.reset();
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));  // the exchange under way ended
  m->AddTask(Read(3, 3));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 3; }));
  const auto r = Replies();
  EXPECT_EQ(r[0].qid, 1);
  EXPECT_EQ(r[0].result, mbcOK);
  for (int k : {1, 2}) {
    EXPECT_EQ(r[k].result, mbcNoTransport);
    EXPECT_TRUE(r[k].value.IsNull());
  }
  EXPECT_EQ(r[1].qid + r[2].qid, 5);
}

TEST_F(MasterTest, LineSettingsOfEachFrame) {
  struct Case {
    int mode, parity;
    bool tenBits;
    std::uint32_t props;
  } cases[] = {
      {mmRTU, mpNone, true, 3 | 64},  // two stop bits without parity
      {mmRTU, mpNone, false, 3},
      {mmRTU, mpOdd, true, 3 | 4},
      {mmASCII, mpEven, true, 2 | 8},
      {mmASCII, mpNone, true, 2 | 64},
  };
  for (const Case& c : cases) {
    TModBusMaster m(factory, c.tenBits, clock);
    TModbusTask t;
    t.Mode = static_cast<TModbusMode>(c.mode);
    t.Parity = static_cast<TModbusParity>(c.parity);
    EXPECT_EQ(m.FormTransportTaskProps(t), c.props) << c.mode << c.parity << c.tenBits;
  }
  // On a modem link the stop bits are cleared.
  const std::int32_t modem = factory.CreateTransportInplace(LinkProps(ttModem, "COM7"));
  auto m = Master();
  m->SetTransportID(modem);
  m->AddTask(Read(1, 0));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 1; }));
  EXPECT_EQ(sentProps, (std::vector<std::uint32_t>{3}));
}

TEST_F(MasterTest, FrameTooLongForTheBufferIsAnsweredNotLeftWaiting) {
  auto m = Master();
  m->AddTask(Req({mbExchange, 4, 1, 0x41, 0, Arr(std::vector<Variant>(597, Variant(1)))}));
  m->AddTask(Read(5, 0));
  ASSERT_TRUE(Eventually([&] { return ReplyCount() == 2; }));
  const auto r = Replies();
  EXPECT_EQ(r[0].qid, 4);
  EXPECT_EQ(r[0].result, mbcWrongType);
  EXPECT_EQ(r[1].result, mbcOK);
  EXPECT_EQ(script.SentCount(), 1u);
  EXPECT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
}

TEST_F(MasterTest, InplaceCallsAreBounded) {
  auto m = Master();
  // Answered: the reply comes back to the caller, not to the callback.
  Variant reply;
  m->RunTaskInplace(Read(1, 0), reply, 1000);
  ASSERT_TRUE(reply.IsArray()) << reply;
  EXPECT_EQ(reply.Array().At(riResult), Variant(mbcOK));
  EXPECT_EQ(ReplyCount(), 0u);

  // No answer in time: cancelled, result 1; the late answer is dropped.
  script.SetGate(false);
  std::thread caller([&] { m->RunTaskInplace(Read(2, 0), reply, 0); });  // 0: the default
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  ASSERT_TRUE(clock.WaitForWaiters(1));
  clock.Advance(TModBusMaster::kDefaultInplaceTimeoutMs - 1);
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(caller.joinable());
  clock.Advance(1);
  caller.join();
  ASSERT_TRUE(reply.IsArray()) << reply;
  EXPECT_EQ(reply.Array().At(riQID), Variant(2));
  EXPECT_EQ(reply.Array().At(riResult), Variant(mbcNoAnswer));
  script.SetGate(true);
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  EXPECT_EQ(ReplyCount(), 0u);

  // Cancelled while waiting: returns at once with nothing.
  script.SetGate(false);
  std::thread cancelled([&] { m->RunTaskInplace(Read(3, 0), reply, 60000); });
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  m->CancelAllTasks();
  cancelled.join();
  EXPECT_TRUE(reply.IsEmpty()) << reply;
  script.SetGate(true);

  // No transport: result 18.
  m->SetTransportID(kNoID);
  m->RunTaskInplace(Read(4, 0), reply, 1000);
  ASSERT_TRUE(reply.IsArray()) << reply;
  EXPECT_EQ(reply.Array().At(riResult), testing::U8(mbcNoTransport));
}

}  // namespace
}  // namespace tarvo
