// One master with N periodic requests of 10 ms over a link that answers at once: how long does a
// one-shot request added among them wait for its reply (p50, p99), and how many periodic replies
// per second does the master deliver meanwhile? N = 1000 asks for 100,000 exchanges a second,
// more than one master serves, so its queue of answers never empties; N = 10 is a busy viewer.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/sync/Event.h"
#include "platform/variant/OleToVar.h"
#include "server/core/ReplyArray.h"
#include "server/core/testing/FakeWorkers.h"
#include "server/modbus/ModBusMaster.h"

namespace tarvo {
namespace {

using Clk = std::chrono::steady_clock;

class Maker : public IWorkerMaker {
 public:
  explicit Maker(testing::FakeLinkScript& script) : script_(script) {}
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    return std::make_shared<testing::FakeTransport>(dir, static_cast<TTransportType>(type), script_);
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t, IWorkerDirectory& dir) override {
    return std::make_shared<TModBusMaster>(dir, true);
  }

 private:
  testing::FakeLinkScript& script_;
};

Variant Read(int qid, int addr, int period) {
  Variant out;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, {Variant(int(mbReadHoldRegs)), Variant(qid),
                                              Variant(period), Variant(addr),
                                              Variant(int(dtUnsignedWord)), Variant(1)})),
           out);
  return out;
}

void BM_OneShotAmongPeriodic(benchmark::State& state) {
  testing::FakeLinkScript script;
  script.recordSent = false;
  script.answer = [](const TBaseTransportTask& t, std::vector<std::uint8_t>& reply) {
    const std::uint8_t pdu[] = {t.Buf[0], t.Buf[1], 2, 0, 42};
    TFrameBuf frame;
    const int len = MakeFrame(pdu, sizeof pdu, mmRTU, frame);
    reply.assign(frame.begin(), frame.begin() + len);
    return true;
  };
  Maker maker(script);
  TServerFactory factory(maker);
  const std::int32_t trID = factory.CreateTransportInplace(testing::LinkProps(ttRS232, "bench"));

  constexpr int kOneShots = 500;
  constexpr std::int32_t kFirstOneShot = 1000000;
  std::vector<Clk::time_point> answered(kOneShots);
  std::atomic<std::uint64_t> periodicReplies{0};
  Event oneShotDone(false);
  const Variant props(SafeArray::Of(VT_VARIANT, {Variant(0), Variant(1), Variant(0), Variant(0),
                                                 Variant(1), Variant(false), Variant(false)}));
  const std::int32_t id = factory.CreateMaster(
      props,
      [&](const Variant& reply) {
        const std::int32_t qid = reply.Array().At(riQID).ToInt32();
        if (qid >= kFirstOneShot) {
          answered[qid - kFirstOneShot] = Clk::now();
          oneShotDone.Set();
        } else {
          ++periodicReplies;
        }
      },
      nullptr);
  auto master = factory.GetMaster(id);
  master->SetTransportID(trID);
  for (int k = 0; k < state.range(0); ++k) master->AddTask(Read(k, k, 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the flood is running

  std::vector<double> delaysUs;
  for (auto _ : state) {
    const std::uint64_t before = periodicReplies;
    const auto start = Clk::now();
    for (int k = 0; k < kOneShots; ++k) {
      const auto sent = Clk::now();
      master->AddTask(Read(kFirstOneShot + k, 5000, 0));
      if (!oneShotDone.Wait(5000)) {
        state.SkipWithError("a one-shot request got no reply");
        break;
      }
      delaysUs.push_back(std::chrono::duration<double, std::micro>(answered[k] - sent).count());
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const double seconds = std::chrono::duration<double>(Clk::now() - start).count();
    state.counters["periodic_replies_per_s"] =
        static_cast<double>(periodicReplies - before) / seconds;
  }
  std::sort(delaysUs.begin(), delaysUs.end());
  if (!delaysUs.empty()) {
    state.counters["one_shot_p50_us"] = delaysUs[delaysUs.size() / 2];
    state.counters["one_shot_p99_us"] = delaysUs[delaysUs.size() * 99 / 100];
  }
  master->CancelAllTasks();
  master.reset();
}
BENCHMARK(BM_OneShotAmongPeriodic)
    ->Arg(1000)
    ->Arg(10)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
