// The automation classes in one process, over a private bus: a real ModBus master on a scripted
// link, reached through the client proxies exactly as a client program reaches them.

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <regex>
#include <set>

#include "platform/automation/Server.h"
#include "platform/automation/testing/PrivateBus.h"
#include "server/core/AnyObjects.h"
#include "server/core/ReplyArray.h"
#include "server/core/testing/Eventually.h"
#include "server/core/testing/FakeWorkers.h"
#include "server/core/app/TypeLibXml.h"
#include "server/modbus/ModBusMaster.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusTestUtil.h"
#include "server/typelib/AnyProxies.h"

namespace tarvo {
namespace {

using automation::AutomationClient;
using automation::BusSpec;
using automation::RemoteError;
using testing::Arr;
using testing::Eventually;
using testing::FakeLinkScript;
using testing::FakeTransport;
using testing::LinkProps;
using typelib::AnyMasterProxy;
using typelib::AnyTransportProxy;

class Maker : public IWorkerMaker {
 public:
  explicit Maker(FakeLinkScript& s) : script_(s) {}
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    return std::make_shared<FakeTransport>(dir, static_cast<TTransportType>(type), script_);
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t type, IWorkerDirectory& dir) override {
    return type == mtMB ? std::make_shared<TModBusMaster>(dir, true) : nullptr;
  }

 private:
  FakeLinkScript& script_;
};

struct Events {
  std::mutex lock;
  std::vector<std::array<std::int32_t, 3>> states;
  std::vector<Variant> replies;
  std::size_t StateCount() {
    std::lock_guard l(lock);
    return states.size();
  }
  std::size_t ReplyCount() {
    std::lock_guard l(lock);
    return replies.size();
  }
};

class AnyObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The device: register k holds k + 1.
    script.answer = [](const TBaseTransportTask& t, std::vector<std::uint8_t>& reply) {
      std::vector<std::uint8_t> pdu{t.Buf[0], t.Buf[1], static_cast<std::uint8_t>(2 * t.Buf[5])};
      for (int k = 0; k < t.Buf[5]; ++k) {
        pdu.push_back(0);
        pdu.push_back(static_cast<std::uint8_t>(t.Buf[3] + k + 1));
      }
      TFrameBuf frame;
      const int len = MakeFrame(pdu.data(), static_cast<int>(pdu.size()), mmRTU, frame);
      reply.assign(frame.begin(), frame.begin() + len);
      return true;
    };
    server = std::make_unique<automation::AutomationServer>(
        automation::OpenBus(BusSpec::Parse(bus.Address())));
    RegisterAnyClasses(*server, factory);
    server->Start();
    client = AutomationClient::Connect(BusSpec::Parse(bus.Address()));
  }
  void TearDown() override {
    client.reset();
    server.reset();
    factory.WaitIdle(5000);
  }

  std::unique_ptr<AnyTransportProxy> Transport(Events* ev) {
    return std::make_unique<AnyTransportProxy>(
        *client, ev ? AnyTransportProxy::StateHandler([ev](int o, int n, int id) {
          std::lock_guard l(ev->lock);
          ev->states.push_back({o, n, id});
        })
                    : nullptr);
  }
  std::unique_ptr<AnyMasterProxy> Master(Events* ev) {
    return std::make_unique<AnyMasterProxy>(
        *client, ev ? AnyMasterProxy::ExchangeHandler([ev](const Variant& r) {
          std::lock_guard l(ev->lock);
          ev->replies.push_back(r);
        })
                    : nullptr);
  }
  static Variant MasterProps(int type = mtMB) {
    return Arr({Variant(type), Variant(1), Variant(0), Variant(0), Variant(1), Variant(false),
                Variant(false)});
  }
  static Variant Read(int qid, int addr, int count, int period = 0) {
    return Arr({Variant(int(mbReadHoldRegs)), Variant(qid), Variant(period), Variant(addr),
                Variant(int(dtUnsignedWord)), Variant(count)});
  }

  automation::testing::PrivateBus bus;
  FakeLinkScript script;
  Maker maker{script};
  TServerFactory factory{maker, [](std::uint32_t) { return true; }};
  std::unique_ptr<automation::AutomationServer> server;
  std::shared_ptr<AutomationClient> client;
};

TEST_F(AnyObjectsTest, TypicalClientSequenceWithItsEventsInOrder) {
  Events tev, mev;
  auto tr = Transport(&tev);
  tr->SetProps(LinkProps(ttRS232, "COM1"));
  tr->SetConnected(true);
  ASSERT_TRUE(Eventually([&] { return tev.StateCount() == 1; }));
  const std::int32_t id = tev.states[0][2];
  EXPECT_EQ(tev.states[0], (std::array<std::int32_t, 3>{stOpening, stOpen, id}));
  EXPECT_NE(id, kNoID);
  EXPECT_TRUE(tr->GetConnected());
  EXPECT_EQ(tr->GetID(), id);

  auto m = Master(&mev);
  m->SetProps(MasterProps());
  m->SetTransportID(id);
  m->AddTask(Read(7, 10, 2));
  ASSERT_TRUE(Eventually([&] { return mev.ReplyCount() == 1; }));
  {
    const SafeArray& r = mev.replies[0].Array();
    EXPECT_EQ(r.At(riCallType), Variant(std::uint8_t{mbReadHoldRegs}));
    EXPECT_EQ(r.At(riQID), Variant(std::int32_t{7}));
    EXPECT_EQ(r.At(riResult), Variant(std::int32_t{mbcOK}));
    EXPECT_EQ(r.At(riValue), Variant(SafeArray::Of(VT_UI2, {Variant(std::uint16_t{11}),
                                                             Variant(std::uint16_t{12})})));
  }
  // A periodic request runs until FreeTask stops it.
  m->AddTask(Read(8, 0, 1, 20));
  ASSERT_TRUE(Eventually([&] { return mev.ReplyCount() >= 4; }));
  m->FreeTask(8);
  factory.WaitIdle(1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::size_t after = mev.ReplyCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_LE(mev.ReplyCount(), after + 1);

  const Variant inplace = m->AddInplaceTask(Read(9, 3, 1), 1000);
  EXPECT_EQ(inplace.Array().At(riValue), Variant(std::uint16_t{4}));

  tr->SetConnected(false);
  ASSERT_TRUE(Eventually([&] { return tev.StateCount() == 2; }));
  EXPECT_EQ(tev.states[1], (std::array<std::int32_t, 3>{stClosing, stClosed, kNoID}));
  tr->SetConnected(false);  // the second write does nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(tev.StateCount(), 2u);
  EXPECT_FALSE(tr->GetConnected());
  EXPECT_TRUE(Eventually([&] { return factory.GetTransportCount() == 0; }));
}

TEST_F(AnyObjectsTest, ErrorTextsReachTheClientAndUnboundRequestsAreDropped) {
  Events mev;
  auto m = Master(&mev);
  try {
    m->SetTransportID(1);
    FAIL();
  } catch (const RemoteError& e) {
    EXPECT_STREQ(e.what(), "mi in TAnyMaster.SetTransportID() is nil");
  }
  m->AddTask(Read(1, 0, 1));  // no master, not bound: dropped without an error
  EXPECT_TRUE(m->AddInplaceTask(Read(1, 0, 1), 100).IsEmpty());

  auto bb = Master(nullptr);
  EXPECT_THROW(bb->SetProps(MasterProps(mtBB)), RemoteError);
  EXPECT_THROW(bb->SetTransportID(1), RemoteError);  // still without a master

  m->SetProps(MasterProps());
  m->AddTask(Read(2, 0, 1));  // a master but no link: no reply
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(mev.ReplyCount(), 0u);

  auto tr = Transport(nullptr);
  EXPECT_THROW(tr->AddTask(Variant("two")), RemoteError);
  tr->AddTask(Variant(std::int32_t{7}));  // ignored
}

TEST_F(AnyObjectsTest, ConnectedFollowsTheRecordedStateAndIgnoresWritesWhileOpening) {
  auto silent = Transport(nullptr);  // no sink: the state is never recorded
  silent->SetProps(LinkProps(ttRS232, "COM1"));
  silent->SetConnected(true);
  ASSERT_TRUE(Eventually([&] { return silent->GetID() != kNoID; }));
  EXPECT_FALSE(silent->GetConnected());

  Events ev;
  auto tr = Transport(&ev);
  tr->SetProps(LinkProps(ttRS232, "COM2"));
  script.SetConnectGate(false);
  tr->SetConnected(true);
  tr->SetConnected(true);   // ignored while the open is in progress
  tr->SetConnected(false);  // ignored too
  script.SetConnectGate(true);
  ASSERT_TRUE(Eventually([&] { return ev.StateCount() == 1; }));
  EXPECT_EQ(ev.states[0][1], stOpen);
  EXPECT_EQ(factory.GetTransportCount(), 2);
  EXPECT_EQ(script.connects, 2);
}

TEST_F(AnyObjectsTest, TwoClientsShareALinkAndSecondAdviseIsRefused) {
  Events a, b;
  auto first = Transport(&a);
  auto second = Transport(&b);
  EXPECT_THROW(first->Object().Advise(), RemoteError);
  for (auto* t : {first.get(), second.get()}) {
    t->SetProps(LinkProps(ttRS232, "COM1"));
    t->SetConnected(true);
  }
  ASSERT_TRUE(Eventually([&] { return a.StateCount() == 1 && b.StateCount() == 1; }));
  EXPECT_EQ(a.states[0][2], b.states[0][2]);
  EXPECT_EQ(factory.GetTransportCount(), 1);
  first.reset();  // released: its share goes back
  factory.WaitIdle(1000);
  EXPECT_EQ(factory.GetTransportCount(), 1);
  second->SetConnected(false);
  EXPECT_TRUE(Eventually([&] { return factory.GetTransportCount() == 0; }));
}

// The interfaces the running objects export, read back through the bus' own introspection, are
// those of the type library file: same interfaces, members, argument types and directions.
std::set<std::string> Members(const std::string& xml) {
  std::set<std::string> out;
  const std::regex iface(R"re(<interface name="(org\.tarvo\.[^"]+)">([\s\S]*?)</interface>)re");
  const std::regex member(R"re(<(method|signal) name="([^"]+)"\s*(/>|>([\s\S]*?)</\1>))re");
  const std::regex arg(R"re(<arg\b([^>]*)/>)re");
  const std::regex type(R"re(type="([^"]+)")re"), dir(R"re(direction="([^"]+)")re");
  for (std::sregex_iterator i(xml.begin(), xml.end(), iface), e; i != e; ++i) {
    const std::string body = (*i)[2];
    for (std::sregex_iterator j(body.begin(), body.end(), member); j != e; ++j) {
      std::string sig = (*i)[1].str() + "." + (*j)[2].str() + "(";
      const std::string args = (*j)[4];
      for (std::sregex_iterator k(args.begin(), args.end(), arg); k != e; ++k) {
        const std::string a = (*k)[1];
        std::smatch t, d;
        std::regex_search(a, t, type);
        const bool out = std::regex_search(a, d, dir) && d[1] == "out";
        sig += (out ? "out " : (*j)[1] == "signal" ? "" : "in ") + t[1].str() + ",";
      }
      out.insert(sig + ")");
    }
  }
  return out;
}

TEST_F(AnyObjectsTest, ExportedInterfacesMatchTheTypeLibrary) {
  auto tr = Transport(nullptr);
  auto m = Master(nullptr);
  std::set<std::string> exported;
  auto conn = sdbus::createSessionBusConnectionWithAddress(bus.Address());
  for (const std::string& path :
       {std::string(automation::kFactoryPath), tr->Object().Path(), m->Object().Path()}) {
    auto p = sdbus::createProxy(*conn, tr->Object().ServerName(), path);
    std::string xml;
    p->callMethod("Introspect").onInterface("org.freedesktop.DBus.Introspectable").storeResultsTo(xml);
    for (const std::string& s : Members(xml)) exported.insert(s);
  }
  EXPECT_EQ(exported, Members(kTypeLibXml));
  EXPECT_GT(exported.size(), 15u);
}

}  // namespace
}  // namespace tarvo
