// The automation boundary against a real dbus-daemon of the test's own: the wire profile, the
// owner and sink rules, events to the sink only, release when the owner leaves, and a slow call
// that does not hold up another client.

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/automation/Client.h"
#include "platform/automation/Server.h"
#include "platform/automation/Wire.h"
#include "platform/automation/testing/PrivateBus.h"
#include "platform/variant/OleDate.h"

namespace tarvo::automation {
namespace {

constexpr char kEcho[] = "org.tarvo.TarvoSrv.IEcho";

struct Counters {
  std::atomic<int> released{0};
  std::promise<void> gate;
  std::shared_future<void> gateOpen{gate.get_future().share()};
};

class EchoObject : public AutomationObject {
 public:
  explicit EchoObject(Counters& c) : c_(c) {}
  std::vector<MethodDef> Methods() override {
    return {
        {kEcho, "Echo", "v", "v", {"A"}, {"B"}, [](CallContext&, Args& a) { return Args{a[0]}; }},
        {kEcho, "Fail", "s", "", {}, {},
         [](CallContext&, Args& a) -> Args { throw AutomationError(a[0].ToString()); }},
        {kEcho, "Wait", "", "", {}, {}, [this](CallContext&, Args&) {
           c_.gateOpen.wait();
           return Args{};
         }},
        {kEcho, "Fire", "v", "b", {}, {}, [this](CallContext&, Args& a) {
           return Args{Variant(Emit(kEcho, "Event", "v", {a[0]}))};
         }},
    };
  }
  std::vector<SignalDef> Signals() override { return {{kEcho, "Event", "v", {"Value"}}}; }

 protected:
  void OnRelease() override { ++c_.released; }

 private:
  Counters& c_;
};

template <class Pred>
bool Eventually(Pred pred, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<AutomationServer>(OpenBus(BusSpec::Parse(bus_.Address())));
    server_->RegisterClass("Echo", [this](const CallContext&) {
      return std::make_shared<EchoObject>(counters_);
    });
    server_->Start();
    client_ = AutomationClient::Connect(BusSpec::Parse(bus_.Address()));
  }
  void TearDown() override {
    counters_.gate.set_value();
    client_.reset();
    server_.reset();
  }
  Variant Echo(RemoteObject& o, const Variant& v) { return o.Call(kEcho, "Echo", "v", {v}, "v")[0]; }

  testing::PrivateBus bus_;
  Counters counters_;
  std::unique_ptr<AutomationServer> server_;
  std::shared_ptr<AutomationClient> client_;
};

Variant Arr(VarType vt, std::vector<Variant> items) { return Variant(SafeArray::Of(vt, std::move(items))); }

TEST_F(AutomationTest, EveryVariantTheSystemUsesRoundTripsExactly) {
  SafeArray lb1(VT_VARIANT, 1, 2);
  lb1.Set(1, Variant(std::int32_t{7}));
  lb1.Set(2, Variant("x"));
  SafeArray twoD(VT_VARIANT, {{0, 2}, {0, 3}});
  for (int k = 0; k < 6; ++k) {
    twoD.SetFlat(k, k % 2 ? Variant(std::uint8_t(k)) : Variant(float(k) / 3));
  }
  SafeArray r4(VT_R4, 0, 2);
  r4.Set(0, Variant(1.5f));
  r4.Set(1, Variant(-0.1f));
  struct Case {
    Variant v;
    std::string sig;  // how it travels
  } cases[] = {
      {Variant(), "(sv)"},
      {Variant::Null(), "(sv)"},
      {Variant(std::int8_t{-5}), "(sv)"},
      {Variant(std::uint8_t{200}), "y"},
      {Variant(true), "b"},
      {Variant(std::int16_t{-300}), "n"},
      {Variant(std::uint16_t{65535}), "q"},
      {Variant(std::int32_t{-70000}), "i"},
      {Variant(std::uint32_t{4000000000u}), "u"},
      {Variant(std::int64_t{-1} << 40), "x"},
      {Variant(std::uint64_t{1} << 63), "t"},
      {Variant(0.1f), "(sv)"},
      {Variant(2.5e-300), "d"},
      {Variant::Date(EncodeOleDate({2026, 12, 11, 18, 5, 7, 123})), "(sv)"},
      {Variant::Currency(123456789), "(sv)"},
      {Variant::Error(-2147352572), "(sv)"},
      {Variant::Int(-9), "(sv)"},
      {Variant::UInt(9), "(sv)"},
      {Variant("Журнал"), "s"},
      {Variant(std::string("\xC6\xF3\xF0", 3)), "(sv)"},  // 1251 bytes, not UTF-8
      {Arr(VT_UI1, {Variant(std::uint8_t{1}), Variant(std::uint8_t{255})}), "ay"},
      {Arr(VT_I4, {Variant(std::int32_t{1}), Variant(std::int32_t{-2})}), "ai"},
      {Arr(VT_BOOL, {Variant(true), Variant(false)}), "ab"},
      {Arr(VT_BSTR, {Variant("a"), Variant("")}), "as"},
      {Arr(VT_VARIANT, {Variant(std::uint8_t{2}), Variant(std::int32_t{1}), Variant(),
                        Arr(VT_VARIANT, {Variant(1.0)})}),
       "av"},
      {Arr(VT_VARIANT, {}), "av"},
      {Variant(r4), "(sv)"},
      {Variant(lb1), "(sv)"},
      {Variant(twoD), "(sv)"},
  };
  auto obj = client_->CreateObject("Echo");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v.Describe());
    EXPECT_EQ(WireSignature(c.v), c.sig);
    const Variant back = Echo(*obj, c.v);
    EXPECT_EQ(back.vt(), c.v.vt());
    EXPECT_EQ(back, c.v) << back.Describe();
    if (c.v.IsArray()) {
      EXPECT_EQ(back.Array().Bounds().size(), c.v.Array().Bounds().size());
    }
  }
}

TEST_F(AutomationTest, ErrorsCarryTheServersTextAndTheObjectStaysUsable) {
  auto obj = client_->CreateObject("Echo");
  try {
    obj->Call(kEcho, "Fail", "s", {Variant("mi in TAnyMaster.SetTransportID() is nil")}, "");
    FAIL() << "no error";
  } catch (const RemoteError& e) {
    EXPECT_EQ(e.name(), kErrorName);
    EXPECT_STREQ(e.what(), "mi in TAnyMaster.SetTransportID() is nil");
  }
  EXPECT_EQ(Echo(*obj, Variant(std::int32_t{3})), Variant(std::int32_t{3}));
  EXPECT_THROW(client_->CreateObject("NoSuchClass"), RemoteError);
}

// Raw messages, as a hostile or careless script would send them.
class RawPeer {
 public:
  explicit RawPeer(const std::string& address)
      : conn_(sdbus::createSessionBusConnectionWithAddress(address)) {
    conn_->enterEventLoopAsync();
  }
  ~RawPeer() { conn_->leaveEventLoop(); }
  std::unique_ptr<sdbus::IProxy> Proxy(const std::string& dest, const std::string& path) {
    return sdbus::createProxy(*conn_, dest, path);
  }
  std::string Create(const std::string& cls) {
    auto p = Proxy(kServiceName, kFactoryPath);
    auto call = p->createMethodCall(kFactoryInterface, "CreateObject");
    call << cls;
    sdbus::ObjectPath path;
    p->callMethod(call) >> path;
    return path;
  }
  std::unique_ptr<sdbus::IConnection> conn_;
};

TEST_F(AutomationTest, CallsFromAnotherConnectionAreRefused) {
  auto obj = client_->CreateObject("Echo");
  RawPeer other(bus_.Address());
  auto p = other.Proxy(obj->ServerName(), obj->Path());
  auto call = p->createMethodCall(kEcho, "Echo");
  call << sdbus::Variant(std::int32_t{1});
  try {
    p->callMethod(call);
    FAIL() << "a stranger's call went through";
  } catch (const sdbus::Error& e) {
    EXPECT_EQ(e.getName(), kAccessDeniedName);
  }
  auto release = p->createMethodCall(kObjectInterface, "Release");
  EXPECT_THROW(p->callMethod(release), sdbus::Error);
  EXPECT_EQ(Echo(*obj, Variant(true)), Variant(true));
}

TEST_F(AutomationTest, OneSinkAndEventsReachOnlyIt) {
  auto obj = client_->CreateObject("Echo");
  EXPECT_FALSE(obj->Call(kEcho, "Fire", "v", {Variant(std::int32_t{1})}, "b")[0].ToBool());

  std::promise<Variant> got;
  obj->OnEvent(kEcho, "Event", "v", [&](const Args& a) { got.set_value(a[0]); });
  obj->Advise();
  EXPECT_THROW(obj->Advise(), RemoteError);

  std::atomic<int> overheard{0};
  RawPeer other(bus_.Address());
  auto spy = other.Proxy(obj->ServerName(), obj->Path());
  spy->registerSignalHandler(kEcho, "Event", [&](sdbus::Signal&) { ++overheard; });
  spy->finishRegistration();

  SafeArray reply(VT_VARIANT, 0, 2);
  reply.Set(0, Variant(std::uint8_t{2}));
  reply.Set(1, Variant(std::int32_t{17}));
  EXPECT_TRUE(obj->Call(kEcho, "Fire", "v", {Variant(reply)}, "b")[0].ToBool());
  auto f = got.get_future();
  ASSERT_EQ(f.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  EXPECT_EQ(f.get(), Variant(reply));
  // A round trip after the event, so that a broadcast would have arrived by now.
  Echo(*obj, Variant());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(overheard.load(), 0);

  obj->Unadvise();
  EXPECT_FALSE(obj->Call(kEcho, "Fire", "v", {Variant()}, "b")[0].ToBool());
  obj->Advise();  // free again
}

TEST_F(AutomationTest, EventsRunWhereTheCallersDispatcherPutsThem) {
  std::mutex lock;
  std::vector<std::function<void()>> posted;
  client_->SetEventDispatcher([&](std::function<void()> work) {
    std::lock_guard l(lock);
    posted.push_back(std::move(work));
  });
  auto obj = client_->CreateObject("Echo");
  std::thread::id ranOn;
  obj->OnEvent(kEcho, "Event", "v", [&](const Args&) { ranOn = std::this_thread::get_id(); });
  obj->Advise();
  obj->Call(kEcho, "Fire", "v", {Variant(std::int32_t{1})}, "b");
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard l(lock);
    return !posted.empty();
  }));
  EXPECT_EQ(ranOn, std::thread::id());  // not run until the caller's loop runs it
  std::vector<std::function<void()>> work;
  {
    std::lock_guard l(lock);
    work.swap(posted);
  }
  for (auto& w : work) w();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  client_->SetEventDispatcher(nullptr);
}

TEST_F(AutomationTest, ObjectsGoWithTheirOwnersConnection) {
  {
    RawPeer gone(bus_.Address());
    gone.Create("Echo");
    gone.Create("Echo");
    ASSERT_TRUE(Eventually([&] { return server_->ObjectCount() == 2; }));
  }  // the connection closes without releasing anything
  EXPECT_TRUE(Eventually([&] { return counters_.released == 2; }, 1500));
  EXPECT_EQ(server_->ObjectCount(), 0u);

  auto obj = client_->CreateObject("Echo");
  obj->Release();
  EXPECT_TRUE(Eventually([&] { return counters_.released == 3; }));
  EXPECT_THROW(Echo(*obj, Variant()), RemoteError);
}

TEST_F(AutomationTest, ASlowCallHoldsUpNeitherAnotherObjectNorAnotherClient) {
  auto slow = client_->CreateObject("Echo");
  auto waiting = std::async(std::launch::async, [&] { slow->Call(kEcho, "Wait", "", {}, ""); });
  auto other = AutomationClient::Connect(BusSpec::Parse(bus_.Address()));
  auto obj = other->CreateObject("Echo");
  EXPECT_EQ(Echo(*obj, Variant(std::int32_t{5})), Variant(std::int32_t{5}));
  auto mine = client_->CreateObject("Echo");
  EXPECT_EQ(Echo(*mine, Variant(std::int32_t{6})), Variant(std::int32_t{6}));
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  counters_.gate.set_value();
  waiting.get();
  counters_.gate = std::promise<void>();  // TearDown opens it again
}

TEST_F(AutomationTest, MalformedVariantsAreRefusedAndTheServerKeepsServing) {
  auto obj = client_->CreateObject("Echo");
  RawPeer raw(bus_.Address());
  // The raw peer must own the object to reach the decoder, so it makes its own.
  const std::string path = raw.Create("Echo");
  auto p = raw.Proxy(kServiceName, path);
  using Fill = std::function<void(sdbus::MethodCall&)>;
  const std::vector<std::pair<const char*, Fill>> bad = {
      {"dictionary", [](sdbus::MethodCall& c) {
         c << sdbus::Variant(std::map<std::string, std::int32_t>{{"a", 1}});
       }},
      {"unknown tag", [](sdbus::MethodCall& c) {
         c << sdbus::Variant(sdbus::Struct<std::string, sdbus::Variant>{"WHAT", sdbus::Variant(1)});
       }},
      {"array bounds and elements disagree", [](sdbus::MethodCall& c) {
         using Bound = sdbus::Struct<std::int32_t, std::int32_t>;
         sdbus::Struct<std::uint16_t, std::vector<Bound>, std::vector<sdbus::Variant>> a{
             std::uint16_t{12}, std::vector<Bound>{{0, 3}}, std::vector<sdbus::Variant>{sdbus::Variant(1)}};
         c << sdbus::Variant(sdbus::Struct<std::string, sdbus::Variant>{"ARRAY", sdbus::Variant(a)});
       }},
      {"huge bounds", [](sdbus::MethodCall& c) {
         using Bound = sdbus::Struct<std::int32_t, std::int32_t>;
         sdbus::Struct<std::uint16_t, std::vector<Bound>, std::vector<sdbus::Variant>> a{
             std::uint16_t{12}, std::vector<Bound>{{0, 100000}, {0, 100000}}, {}};
         c << sdbus::Variant(sdbus::Struct<std::string, sdbus::Variant>{"ARRAY", sdbus::Variant(a)});
       }},
      {"bad element type", [](sdbus::MethodCall& c) {
         using Bound = sdbus::Struct<std::int32_t, std::int32_t>;
         sdbus::Struct<std::uint16_t, std::vector<Bound>, std::vector<sdbus::Variant>> a{
             std::uint16_t{999}, std::vector<Bound>{{0, 1}}, std::vector<sdbus::Variant>{sdbus::Variant(1)}};
         c << sdbus::Variant(sdbus::Struct<std::string, sdbus::Variant>{"ARRAY", sdbus::Variant(a)});
       }},
      {"I1 out of range", [](sdbus::MethodCall& c) {
         c << sdbus::Variant(sdbus::Struct<std::string, sdbus::Variant>{"I1", sdbus::Variant(std::int32_t{1000})});
       }},
      {"object path", [](sdbus::MethodCall& c) { c << sdbus::Variant(sdbus::ObjectPath("/x")); }},
      {"not a variant", [](sdbus::MethodCall& c) { c << std::int32_t{1}; }},
      {"nothing", [](sdbus::MethodCall&) {}},
  };
  for (const auto& [what, fill] : bad) {
    SCOPED_TRACE(what);
    auto call = p->createMethodCall(kEcho, "Echo");
    fill(call);
    EXPECT_THROW(p->callMethod(call), sdbus::Error);
  }
  // Nesting beyond the limit: variants in variants.
  {
    sdbus::Variant v(std::int32_t{1});
    for (int i = 0; i < kMaxWireDepth + 2; ++i) v = sdbus::Variant(std::vector<sdbus::Variant>{v});
    auto call = p->createMethodCall(kEcho, "Echo");
    call << v;
    EXPECT_THROW(p->callMethod(call), sdbus::Error);
  }
  EXPECT_EQ(Echo(*obj, Variant(std::int32_t{9})), Variant(std::int32_t{9}));
}

}  // namespace
}  // namespace tarvo::automation
