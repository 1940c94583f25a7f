// Round trips of one register read over the pseudo-terminal instrument: made in-process on the
// server's own classes, and made by a client through the real server over D-Bus; and the events
// per second that ten client processes receive at once.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "platform/automation/Client.h"
#include "platform/automation/testing/PrivateBus.h"
#include "server/core/ReplyArray.h"
#include "server/core/ServerFactory.h"
#include "server/core/app/WorkerMaker.h"
#include "server/core/app/testing/ServerFixture.h"
#include "server/transports/testing/Devsim.h"
#include "server/typelib/AnyProxies.h"

namespace tarvo {
namespace {

const char* kBaud = "115200";

struct Waiter {
  std::mutex lock;
  std::condition_variable cv;
  std::size_t replies = 0;
  void Add() {
    {
      std::lock_guard l(lock);
      ++replies;
    }
    cv.notify_all();
  }
  void WaitFor(std::size_t n) {
    std::unique_lock l(lock);
    cv.wait(l, [&] { return replies >= n; });
  }
};

Variant Link(const std::string& pty) { return testing::SerialLink(pty, kBaud); }
Variant MasterProps() { return testing::ModbusMaster(); }
Variant Read() { return testing::ReadHolding(1, 0, 2); }

void BM_RoundTripInProcess(benchmark::State& state) {
  testing::TempAppData env;
  testing::Devsim dev({"--baud", kBaud});
  TServerWorkerMaker maker(true);
  TServerFactory factory(maker);
  const std::int32_t tr = factory.CreateTransportInplace(Link(dev.Path()));
  if (tr == kNoID) {
    state.SkipWithError("the link did not open");
    return;
  }
  Waiter w;
  const std::int32_t id = factory.CreateMaster(MasterProps(), [&](const Variant&) { w.Add(); }, nullptr);
  auto master = factory.GetMaster(id);
  master->SetTransportID(tr);
  std::size_t n = 0;
  for (auto _ : state) {
    master->AddTask(Read());
    w.WaitFor(++n);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(n));
  factory.FreeMaster(id);
  factory.ReleaseTransport(tr);
  factory.WaitIdle(5000);
}
BENCHMARK(BM_RoundTripInProcess)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

// The real server, started by a private bus.
struct Server {
  testing::TempAppData env;
  automation::testing::PrivateBus bus;
  Server() { testing::RegisterServerOn(bus, TARVOSRV_PATH); }
};

void BM_RoundTripThroughDBus(benchmark::State& state) {
  Server server;
  testing::Devsim dev({"--baud", kBaud});
  auto client = automation::AutomationClient::Connect(
      automation::BusSpec::Parse(server.bus.Address()));
  std::mutex lock;
  std::condition_variable cv;
  std::int32_t link = kNoID;
  bool closed = false;
  typelib::AnyTransportProxy tr(*client, [&](std::int32_t, std::int32_t s, std::int32_t i) {
    std::lock_guard l(lock);
    if (s == stOpen) link = i;
    if (s == stClosed) closed = true;
    cv.notify_all();
  });
  tr.SetProps(Link(dev.Path()));
  tr.SetConnected(true);
  {
    std::unique_lock l(lock);
    cv.wait(l, [&] { return link != kNoID || closed; });
  }
  if (link == kNoID) {
    state.SkipWithError("the link did not open");
    return;
  }
  Waiter w;
  typelib::AnyMasterProxy m(*client, [&](const Variant&) { w.Add(); });
  m.SetProps(MasterProps());
  m.SetTransportID(link);
  std::size_t n = 0;
  for (auto _ : state) {
    m.AddTask(Read());
    w.WaitFor(++n);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(n));
  tr.SetConnected(false);
}
BENCHMARK(BM_RoundTripThroughDBus)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

// Ten tarvoctl processes, each polling an instrument of its own as fast as the line allows;
// the figure is the replies all of them printed per second of wall time.
void BM_EventsTenClientProcesses(benchmark::State& state) {
  Server server;
  constexpr int kClients = 10, kReplies = 300;
  std::vector<std::unique_ptr<testing::Devsim>> devs;
  for (int k = 0; k < kClients; ++k)
    devs.push_back(std::make_unique<testing::Devsim>(std::vector<std::string>{"--baud", kBaud}));
  std::int64_t events = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<testing::Child>> clients;
    for (int k = 0; k < kClients; ++k)
      clients.push_back(std::make_unique<testing::Child>(
          TARVOCTL_PATH,
          std::vector<std::string>{"--rs232", devs[k]->Path(), "--baud", kBaud, "--read-holding",
                                   "0", "--count", "2", "--period", "1", "--count-replies",
                                   std::to_string(kReplies), "--json"}));
    for (auto& c : clients) {
      std::string line;
      while (c->ReadLine(line, 30000)) ++events;
      c->Wait(10000);
    }
  }
  state.counters["events_per_s"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EventsTenClientProcesses)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace tarvo
