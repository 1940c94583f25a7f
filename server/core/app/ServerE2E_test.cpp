// The real server process, started by a private bus on demand, with the simulated instrument on
// a pseudo-terminal and command-line clients as separate processes.

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <random>

#include "platform/automation/Client.h"
#include "platform/automation/testing/PrivateBus.h"
#include "server/core/Definitions.h"
#include "server/core/ReplyArray.h"
#include "server/core/app/testing/ServerFixture.h"
#include "server/core/testing/Eventually.h"
#include "server/transports/testing/Devsim.h"
#include "server/typelib/AnyProxies.h"

namespace tarvo {
namespace {

using automation::AutomationClient;
using automation::BusSpec;
using automation::RemoteError;
using testing::Child;
using testing::DeviceInUse;
using testing::Eventually;
using typelib::AnyMasterProxy;
using typelib::AnyTransportProxy;

class ServerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RegisterServerOn(bus, TARVOSRV_PATH);
    client = AutomationClient::Connect(BusSpec::Parse(bus.Address()));
  }
  void TearDown() override {
    client.reset();
    // The server ends with its last object; make sure of it before the bus goes.
    if (const pid_t pid = ServerPid(); pid > 0) {
      if (!Eventually([&] { return testing::ProcessGone(pid); }, std::chrono::milliseconds(5000))) kill(pid, SIGKILL);
    }
  }

  pid_t ServerPid() {
    try {
      auto conn = sdbus::createSessionBusConnectionWithAddress(bus.Address());
      auto dbus = sdbus::createProxy(*conn, "org.freedesktop.DBus", "/org/freedesktop/DBus");
      std::uint32_t pid = 0;
      dbus->callMethod("GetConnectionUnixProcessID")
          .onInterface("org.freedesktop.DBus")
          .withArguments(std::string(automation::kServiceName))
          .storeResultsTo(pid);
      return static_cast<pid_t>(pid);
    } catch (const sdbus::Error&) {
      return -1;  // not running
    }
  }

  Variant Link() { return testing::SerialLink(dev.Path()); }
  static Variant MasterProps() { return testing::ModbusMaster(); }
  static Variant Read(int qid, int addr, int count) { return testing::ReadHolding(qid, addr, count); }
  std::vector<std::string> Ctl(std::vector<std::string> extra) {
    std::vector<std::string> a{"--rs232", dev.Path(), "--read-holding", "0", "--count", "2",
                               "--type", "u16", "--json"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }

  testing::TempAppData env;
  automation::testing::PrivateBus bus;
  testing::Devsim dev{{}};
  std::shared_ptr<AutomationClient> client;
};

struct Recorder {
  std::mutex lock;
  std::vector<std::array<std::int32_t, 3>> states;
  std::vector<Variant> replies;
  std::size_t States() { std::lock_guard l(lock); return states.size(); }
  std::size_t Replies() { std::lock_guard l(lock); return replies.size(); }
};

TEST_F(ServerE2E, TheBusStartsTheServerWhichServesTheInstrumentAndExitsAfterTheLastRelease) {
  EXPECT_LT(ServerPid(), 0);
  Recorder rec;
  auto tr = std::make_unique<AnyTransportProxy>(*client, [&](int o, int n, int id) {
    std::lock_guard l(rec.lock);
    rec.states.push_back({o, n, id});
  });
  const pid_t pid = ServerPid();
  ASSERT_GT(pid, 0);
  tr->SetProps(Link());
  tr->SetConnected(true);
  ASSERT_TRUE(Eventually([&] { return rec.States() >= 1; }, std::chrono::milliseconds(10000)));
  ASSERT_EQ(rec.states[0][1], stOpen);
  const std::int32_t id = rec.states[0][2];
  EXPECT_EQ(rec.states[0][0], stOpening);

  auto m = std::make_unique<AnyMasterProxy>(*client, [&](const Variant& r) {
    std::lock_guard l(rec.lock);
    rec.replies.push_back(r);
  });
  m->SetProps(MasterProps());
  m->SetTransportID(id);
  m->AddTask(Read(5, 0, 2));
  ASSERT_TRUE(Eventually([&] { return rec.Replies() == 1; }, std::chrono::milliseconds(10000)));
  {
    const SafeArray& r = rec.replies[0].Array();
    EXPECT_EQ(r.At(riQID), Variant(std::int32_t{5}));
    EXPECT_EQ(r.At(riResult), Variant(std::int32_t{mbcOK}));
    EXPECT_EQ(r.At(riValue), Variant(SafeArray::Of(VT_UI2, {Variant(std::uint16_t{1}),
                                                             Variant(std::uint16_t{2})})));
  }
  const Variant inplace = m->AddInplaceTask(Read(6, 3, 1), 2000);
  EXPECT_EQ(inplace.Array().At(riValue), Variant(std::uint16_t{4}));

  tr->SetConnected(false);
  ASSERT_TRUE(Eventually([&] { return rec.States() == 2; }));
  EXPECT_EQ(rec.states[1], (std::array<std::int32_t, 3>{stClosing, stClosed, kNoID}));
  EXPECT_TRUE(Eventually([&] { return !DeviceInUse(dev.Path()); }));

  m.reset();
  EXPECT_FALSE(testing::ProcessGone(pid));  // one object is still held
  tr.reset();
  EXPECT_TRUE(Eventually([&] { return testing::ProcessGone(pid); }, std::chrono::milliseconds(5000)));
}

TEST_F(ServerE2E, ErrorTextsAndTheRulesOfSinksAndOwners) {
  AnyMasterProxy m(*client, [](const Variant&) {});
  try {
    m.SetTransportID(0);
    FAIL();
  } catch (const RemoteError& e) {
    EXPECT_STREQ(e.what(), "mi in TAnyMaster.SetTransportID() is nil");
  }
  EXPECT_THROW(m.Object().Advise(), RemoteError);

  auto stranger = sdbus::createSessionBusConnectionWithAddress(bus.Address());
  auto p = sdbus::createProxy(*stranger, m.Object().ServerName(), m.Object().Path());
  try {
    p->callMethod("FreeAllTasks").onInterface(typelib::kIAnyMaster);
    FAIL() << "another client's call went through";
  } catch (const sdbus::Error& e) {
    EXPECT_EQ(e.getName(), automation::kAccessDeniedName);
  }
}

TEST_F(ServerE2E, TwoClientProcessesShareOneLinkUntilTheSecondCloses) {
  Child first(TARVOCTL_PATH, Ctl({"--period", "50", "--count-replies", "0"}));
  Child second(TARVOCTL_PATH, Ctl({"--period", "50", "--count-replies", "0"}));
  std::string line;
  ASSERT_TRUE(first.ReadLine(line)) << "no reply for the first client";
  EXPECT_NE(line.find("\"result\":0"), std::string::npos) << line;
  ASSERT_TRUE(second.ReadLine(line)) << "no reply for the second client";
  EXPECT_NE(line.find("\"value\":[1,2]"), std::string::npos) << line;

  first.Kill(SIGTERM);  // a clean stop: its link share goes back
  EXPECT_EQ(first.Wait(5000), 130);
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(second.ReadLine(line)) << "the shared link closed";
  EXPECT_TRUE(DeviceInUse(dev.Path()));
  second.Kill(SIGTERM);
  EXPECT_EQ(second.Wait(5000), 130);
  EXPECT_TRUE(Eventually([&] { return !DeviceInUse(dev.Path()); }, std::chrono::milliseconds(3000)));
}

TEST_F(ServerE2E, AKilledClientLosesItsLinkWithinAboutASecond) {
  for (const bool registered : {true, false}) {
    SCOPED_TRACE(registered ? "registered its process" : "did not register");
    std::vector<std::string> extra{"--period", "50", "--count-replies", "0"};
    if (registered) extra.push_back("--register-process");
    // Another client keeps the server alive between the two rounds.
    AnyTransportProxy keep(*client);
    Child c(TARVOCTL_PATH, Ctl(extra));
    std::string line;
    ASSERT_TRUE(c.ReadLine(line));
    ASSERT_TRUE(DeviceInUse(dev.Path()));
    c.Kill(SIGKILL);
    c.Wait(5000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(Eventually([&] { return !DeviceInUse(dev.Path()); }, std::chrono::milliseconds(3000)));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(ms, 1500);
  }
}

// Random Variants of every shape a careless or hostile client can send.
Variant Junk(std::mt19937& rng, int depth = 0) {
  std::uniform_int_distribution<int> pick(0, depth > 3 ? 7 : 11);
  switch (pick(rng)) {
    case 0: return Variant();
    case 1: return Variant::Null();
    case 2: return Variant(std::int32_t(rng()));
    case 3: return Variant(std::string(rng() % 40, char('A' + rng() % 26)));
    case 4: return Variant(double(rng()) / 7);
    case 5: return Variant(bool(rng() & 1));
    case 6: return Variant::Date(double(rng() % 100000));
    case 7: return Variant(std::uint8_t(rng()));
    case 8: {  // a request-like array with junk elements
      std::vector<Variant> items;
      const int n = rng() % 12;
      for (int k = 0; k < n; ++k) items.push_back(k < 2 ? Variant(std::int32_t(rng() % 16)) : Junk(rng, depth + 1));
      return Variant(SafeArray::Of(VT_VARIANT, std::move(items)));
    }
    case 9: {  // two dimensions
      SafeArray a(VT_VARIANT, {{0, 2}, {0, 3}});
      for (int k = 0; k < 6; ++k) a.SetFlat(k, Junk(rng, depth + 1));
      return Variant(std::move(a));
    }
    case 10: {  // another lower bound
      SafeArray a(VT_VARIANT, 1, 3);
      for (int k = 1; k <= 3; ++k) a.Set(k, Junk(rng, depth + 1));
      return Variant(std::move(a));
    }
    default: {  // big
      SafeArray a(VT_I4, 0, 100000 + rng() % 1000);
      return Variant(std::move(a));
    }
  }
}

TEST_F(ServerE2E, HundredsOfMalformedVariantsGiveErrorsOrResult15AndTheServerKeepsServing) {
  Recorder rec;
  AnyTransportProxy tr(*client, [&](int o, int n, int id) {
    std::lock_guard l(rec.lock);
    rec.states.push_back({o, n, id});
  });
  tr.SetProps(Link());
  tr.SetConnected(true);
  ASSERT_TRUE(Eventually([&] { return rec.States() >= 1; }, std::chrono::milliseconds(10000)));
  const std::int32_t id = rec.states[0][2];
  AnyMasterProxy m(*client, [&](const Variant& r) {
    std::lock_guard l(rec.lock);
    rec.replies.push_back(r);
  });
  m.SetProps(MasterProps());
  m.SetTransportID(id);

  std::mt19937 rng(20261211);
  int errors = 0;
  for (int i = 0; i < 300; ++i) {
    const Variant v = Junk(rng);
    try {
      switch (i % 5) {
        case 0: m.AddTask(v); break;
        case 1: m.AddInplaceTask(v, 100); break;
        case 2: tr.AddTask(v); break;
        case 3: {
          AnyMasterProxy fresh(*client);
          fresh.SetProps(v);
          break;
        }
        default: {
          AnyTransportProxy fresh(*client);
          fresh.SetProps(v);
          fresh.SetConnected(true);
          break;
        }
      }
    } catch (const RemoteError&) {
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);
  // Every reply that came is a well-formed reply array; the refused requests carry 15.
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard l(rec.lock);
    return !rec.replies.empty();
  }));
  {
    std::lock_guard l(rec.lock);
    for (const Variant& r : rec.replies) {
      ASSERT_TRUE(r.IsArray());
      ASSERT_EQ(r.Array().Size(), 6u);
      const int result = r.Array().At(riResult).ToInt32();
      EXPECT_TRUE(result == mbcWrongType || result <= mbcWrongArchTime) << result;
    }
  }
  const Variant good = m.AddInplaceTask(Read(99, 0, 2), 2000);
  EXPECT_EQ(good.Array().At(riResult), Variant(std::int32_t{mbcOK}));
}

}  // namespace
}  // namespace tarvo
