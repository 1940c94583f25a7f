// Round trips through the two worker threads: a master hands a frame to a transport whose link
// answers at once, the transport hands the answer back, the master delivers the reply. This is
// the server's own cost per exchange, without any line.

#include <benchmark/benchmark.h>

#include "platform/sync/Event.h"
#include "server/core/testing/FakeWorkers.h"

namespace tarvo {
namespace {

void BM_RoundTrip(benchmark::State& state) {
  testing::FakeLinkScript script;
  script.recordSent = false;
  testing::FakeMaker maker(script);
  TServerFactory factory(maker);
  const std::int32_t trID = factory.CreateTransportInplace(testing::LinkProps(ttRS232, "bench"));
  Event replied(false);
  const std::int32_t id =
      factory.CreateMaster(testing::MasterProps(), [&](const Variant&) { replied.Set(); }, nullptr);
  auto master = std::static_pointer_cast<testing::FakeMaster>(factory.GetMaster(id));
  master->SetTransportID(trID);
  const std::vector<std::uint8_t> frame{1, 3, 0, 0, 0, 10, 0xC5, 0xCD};
  std::int32_t qid = 0;
  for (auto _ : state) {
    master->Send(++qid, frame);
    if (!replied.Wait(5000)) state.SkipWithError("no reply");
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["round_trips_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  master.reset();
}
BENCHMARK(BM_RoundTrip)->UseRealTime();

}  // namespace
}  // namespace tarvo
