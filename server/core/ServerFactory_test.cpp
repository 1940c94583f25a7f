#include "server/core/ServerFactory.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "server/core/LogKeeper.h"
#include "server/core/testing/Eventually.h"
#include "server/core/testing/FakeWorkers.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::FakeAnyMaster;
using testing::FakeAnyTransport;
using testing::FakeLinkScript;
using testing::FakeMaker;
using testing::FakeMaster;
using testing::FakeTransport;
using testing::LinkProps;
using testing::MasterProps;

using testing::Eventually;

class FactoryTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeAnyTransport> Open(const std::string& port, int type = ttRS232) {
    auto obj = std::make_shared<FakeAnyTransport>(factory);
    factory.RegAnyTransportObj(obj);
    factory.CreateTransport(obj, LinkProps(type, port));
    return obj;
  }

  // A master bound to the transport; its replies are collected by QID.
  std::shared_ptr<TBaseMaster> Master(std::int32_t transportID) {
    const std::int32_t id = factory.CreateMaster(
        MasterProps(),
        [this](const Variant& reply) {
          std::lock_guard l(repliesLock);
          replies.push_back(reply.Array().At(0).ToInt32());
        },
        nullptr);
    auto m = factory.GetMaster(id);
    m->SetTransportID(transportID);
    return m;
  }

  // Request 1 is in the link's hands (held there until the gate opens); 2 and 3 wait behind it.
  void QueueBehindAnExchange(FakeMaster& fm) {
    script.SetGate(false);
    fm.Send(1, {1});
    ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
    fm.Send(2, {2});
    fm.Send(3, {3});
    ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 3; }));
  }

  std::vector<std::int32_t> Replies() {
    std::lock_guard l(repliesLock);
    return replies;
  }

  FakeLinkScript script;
  FakeMaker maker{script};
  std::mutex repliesLock;
  std::vector<std::int32_t> replies;
  TServerFactory factory{maker};
};

TEST_F(FactoryTest, EqualLinksShareOneTransportUntilTheLastCloses) {
  auto a = Open("COM1");
  auto b = Open("COM1");
  const auto sa = a->State(0), sb = b->State(0);
  EXPECT_EQ(sa.first, stOpen);
  EXPECT_GE(sa.second, 0);
  EXPECT_EQ(sb, sa);  // same state, same transport ID
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 1);
  EXPECT_FALSE(a->busy_);
  EXPECT_FALSE(b->busy_);

  a->Disconnect();
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 1);
  EXPECT_EQ(script.disconnects, 0);

  b->Disconnect();
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 0);
  EXPECT_EQ(script.disconnects, 1);
  EXPECT_EQ(script.connects, 1);

  // Another port is another link.
  auto c = Open("COM2");
  auto d = Open("COM3");
  EXPECT_NE(c->State(0).second, d->State(0).second);
  EXPECT_EQ(factory.TransportCount(), 2);
}

TEST_F(FactoryTest, LinkThatCannotBeOpenedLeavesNothing) {
  script.connectOk = false;
  auto a = Open("COM9");
  EXPECT_EQ(a->State(0), std::make_pair(std::int32_t{stClosed}, kNoID));
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 0);
  EXPECT_EQ(a->GetTransportID(), kNoID);
  EXPECT_FALSE(a->busy_);
}

TEST_F(FactoryTest, UnsupportedKindsFailWithTheirAssertion) {
  try {
    factory.CreateMaster(MasterProps(mtBB), nullptr, nullptr);
    FAIL() << "a BitBus master was created";
  } catch (const TAssertionError& e) {
    EXPECT_STREQ(e.what(), "TServerFactory.NewMaster: Result = nil");
  }
  EXPECT_EQ(factory.MasterCount(), 0);

  // An unknown transport type is logged by the factory; the client link is told it is closed
  // rather than left opening.
  auto a = Open("COM1", 9);
  EXPECT_EQ(a->State(0), std::make_pair(std::int32_t{stClosed}, kNoID));
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_FALSE(a->busy_);
  EXPECT_EQ(factory.TransportCount(), 0);
}

TEST_F(FactoryTest, DroppedLinkClosesEveryClientAndGoesWithTheLastShare) {
  auto a = Open("COM1");
  auto b = Open("COM1");
  const std::int32_t id = a->State(0).second;
  ASSERT_EQ(b->State(0).second, id);
  factory.SetTransportState(id, 8);  // a modem that lost its carrier
  EXPECT_EQ(a->State(1), std::make_pair(std::int32_t{stClosed}, kNoID));
  EXPECT_EQ(b->State(1), std::make_pair(std::int32_t{stClosed}, kNoID));
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 0);
  EXPECT_EQ(script.disconnects, 1);
}

TEST_F(FactoryTest, InPlaceCreationSharesOrOpens) {
  const std::int32_t id = factory.CreateTransportInplace(LinkProps(ttRS485, "COM4"));
  ASSERT_NE(id, kNoID);
  EXPECT_EQ(factory.CreateTransportInplace(LinkProps(ttRS485, "COM4")), id);
  script.connectOk = false;
  EXPECT_EQ(factory.CreateTransportInplace(LinkProps(ttRS485, "COM5")), kNoID);
  EXPECT_EQ(factory.TransportCount(), 1);
}

TEST_F(FactoryTest, TasksOfAFreedMasterAreDiscardedWhileOthersAreServed) {
  auto link = Open("COM1");
  const std::int32_t trID = link->State(0).second;
  auto ma = Master(trID);
  auto mb = Master(trID);
  script.SetGate(false);
  static_cast<FakeMaster&>(*ma).Send(1, {0xA1});
  ASSERT_TRUE(script.WaitFor([&] { return script.inRunTask == 1; }));
  static_cast<FakeMaster&>(*ma).Send(2, {0xA2});
  static_cast<FakeMaster&>(*ma).Send(3, {0xA3});
  static_cast<FakeMaster&>(*mb).Send(10, {0xB1});
  ASSERT_TRUE(Eventually([&] { return ma->TasksAdded() == 3 && factory.GarbageCount() == 4; }));

  const std::int32_t freed = ma->GetID();
  ma.reset();
  factory.FreeMaster(freed);
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.GetMaster(freed), nullptr);
  script.SetGate(true);

  ASSERT_TRUE(Eventually([&] { return Replies() == std::vector<std::int32_t>{10}; }));
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  std::lock_guard l(script.lock);
  EXPECT_EQ(script.sent, (std::vector<std::vector<std::uint8_t>>{{0xA1}, {0xB1}}));
}

TEST_F(FactoryTest, CancelledTasksAreNotSentAndAreDropped) {
  auto link = Open("COM1");
  auto m = Master(link->State(0).second);
  QueueBehindAnExchange(static_cast<FakeMaster&>(*m));
  m->CancelTask(2);
  script.SetGate(true);
  ASSERT_TRUE(Eventually([&] { return Replies() == std::vector<std::int32_t>{1, 3}; }));
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  std::lock_guard l(script.lock);
  EXPECT_EQ(script.sent, (std::vector<std::vector<std::uint8_t>>{{1}, {3}}));
}

TEST_F(FactoryTest, ClosingATransportDiscardsWhatIsQueued) {
  auto link = Open("COM1");
  auto m = Master(link->State(0).second);
  QueueBehindAnExchange(static_cast<FakeMaster&>(*m));
  auto tr = factory.GetTransport(link->State(0).second);
  link->Disconnect();  // the only share: the link closes once the exchange under way ends
  ASSERT_TRUE(Eventually([&] { return tr->Closing(); }));
  script.SetGate(true);
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 0);
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  EXPECT_EQ(Replies(), std::vector<std::int32_t>{1});
  EXPECT_EQ(script.SentCount(), 1u);
}

std::string ReadAll(const std::filesystem::path& dir) {
  std::string text;
  if (!std::filesystem::exists(dir)) return text;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(e.path(), std::ios::binary);
    text.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  return text;
}

TEST_F(FactoryTest, ServiceTasksAreSentOnceAndReachNoMaster) {
  const auto logDir = std::filesystem::temp_directory_path() /
                      ("tarvo-service-log-" + std::to_string(::getpid()));
  std::filesystem::remove_all(logDir);
  TLogKeeperOptions options;
  options.LogDir = logDir.string();
  TLogKeeper keeper(options);
  auto link = Open("COM1");
  auto m = Master(link->State(0).second);
  auto tr = std::static_pointer_cast<FakeTransport>(factory.GetTransport(link->State(0).second));
  tr->QueueServiceTask();
  ASSERT_TRUE(script.WaitFor([&] { return script.serviceSent == 1; }));
  ASSERT_TRUE(Eventually([&] { return factory.GarbageCount() == 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(script.serviceSent, 1);
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(script.SentCount(), 0u);
  ASSERT_TRUE(keeper.WaitIdle(5000));
  const std::string id = "[" + std::to_string(tr->GetID()) + "]";
  EXPECT_EQ(ReadAll(logDir).find(id + "\tOut"), std::string::npos);  // not logged

  // An ordinary frame is logged both ways.
  static_cast<FakeMaster&>(*m).Send(5, {0x01, 0x07});
  ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; }));
  ASSERT_TRUE(keeper.WaitIdle(5000));
  const std::string log = ReadAll(logDir);
  EXPECT_NE(log.find(id + "\tOut\tOK\t01 07 \r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(id + "\tIn\tOK\t01 07 \r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Создание транспорта RS232 " + id), std::string::npos) << log;
  std::filesystem::remove_all(logDir);
}

TEST_F(FactoryTest, TransportRepeatsAFailedExchangeWhileAttemptsAreLeft) {
  auto link = Open("COM1");
  auto m = Master(link->State(0).second);
  script.answer = [](const TBaseTransportTask&, std::vector<std::uint8_t>&) { return false; };
  for (std::int32_t retries : {0, 1, 3}) {
    {
      std::lock_guard l(script.lock);
      script.retries = retries;
      script.sent.clear();
    }
    static_cast<FakeMaster&>(*m).Send(retries, {7});
    ASSERT_TRUE(Eventually([&] { return Replies().size() == 1; })) << retries;
    EXPECT_EQ(script.SentCount(), static_cast<std::size_t>(std::max(retries, 1))) << retries;
    std::lock_guard l(repliesLock);
    replies.clear();
  }
}

// The real client check: a child process that registered its ID and then exits loses its link
// and objects within about a second; an object whose client never registered is not watched.
TEST_F(FactoryTest, ObjectsOfAClientProcessThatDiedAreCutOff) {
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipefd[1]);
    char c;
    while (read(pipefd[0], &c, 1) > 0) {
    }
    _exit(0);
  }
  close(pipefd[0]);

  auto watched = Open("COM1");
  auto unwatched = Open("COM2");
  ASSERT_EQ(watched->State(0).first, stOpen);
  ASSERT_EQ(unwatched->State(0).first, stOpen);
  factory.registerTransportProcess(watched.get(), static_cast<std::uint32_t>(child));
  auto masterObj = std::make_shared<FakeAnyMaster>();
  factory.RegAnyMasterObj(masterObj);
  factory.registerMasterProcess(masterObj.get(), static_cast<std::uint32_t>(child));
  factory.StartClientsTimer(1000);

  std::this_thread::sleep_for(1200ms);  // the child still runs: nothing happens
  EXPECT_EQ(factory.TransportCount(), 2);
  EXPECT_EQ(watched->cutOffs_, 0);

  close(pipefd[1]);  // the child exits
  const auto died = std::chrono::steady_clock::now();
  ASSERT_TRUE(Eventually([&] { return watched->cutOffs_ == 1 && masterObj->cutOffs_ == 1; }, 4s));
  EXPECT_LT(std::chrono::steady_clock::now() - died, 3s);
  ASSERT_TRUE(factory.WaitIdle(5000));
  EXPECT_EQ(factory.TransportCount(), 1);
  EXPECT_EQ(watched->GetTransportID(), kNoID);
  EXPECT_EQ(unwatched->cutOffs_, 0);
  EXPECT_EQ(unwatched->disconnects_, 0);
  factory.StopClientsTimer();
  waitpid(child, nullptr, 0);
}

TEST(Workers, CustomWait) {
  FakeLinkScript script;
  FakeMaker maker(script);
  TServerFactory factory(maker);
  FakeTransport tr(factory, ttRS232, script);
  Event handle(true), abort(true);
  EXPECT_TRUE(tr.CustomWait(nullptr, 60000, false));  // nothing to wait for: at once
  EXPECT_TRUE(tr.CustomWait(&handle, 10, false));     // time ran out
  handle.Set();
  EXPECT_FALSE(tr.CustomWait(&handle, 60000, false));
  EXPECT_FALSE(tr.CustomWait(&handle, 60000, true));  // no abort event: as not abortable
  tr.SetAbortEvent(&abort);
  handle.Reset();
  EXPECT_TRUE(tr.CustomWait(&handle, 10, true));
  EXPECT_TRUE(tr.CustomWait(nullptr, 10, true));
  abort.Set();
  EXPECT_THROW(tr.CustomWait(&handle, 60000, true), TAbortError);
  EXPECT_FALSE(abort.IsSet());  // the abort is taken
  abort.Set();
  EXPECT_THROW(tr.CustomWait(nullptr, 60000, true), TAbortError);
  abort.Set();
  handle.Set();
  EXPECT_FALSE(tr.CustomWait(&handle, 60000, true));  // the handle comes first
}

TEST(Workers, IdsAndPropsText) {
  FakeLinkScript script;
  FakeMaker maker(script);
  TServerFactory factory(maker);
  FakeTransport a(factory, ttRS232, script), b(factory, ttRS485, script);
  FakeMaster m(factory);
  EXPECT_NE(a.GetID(), kNoID);
  EXPECT_NE(a.GetID(), b.GetID());
  EXPECT_NE(m.GetID(), a.GetID());
  EXPECT_NE(m.GetID(), b.GetID());
  EXPECT_EQ(TBaseTransport::PropsToStr(LinkProps(0, "COM1")), "0, COM1");
  EXPECT_EQ(TBaseTransport::PropsToStr(Variant(5)), "5");
}

}  // namespace
}  // namespace tarvo
