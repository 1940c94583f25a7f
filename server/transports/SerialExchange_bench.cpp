// 10-register reads through the ModBus master and the RS-232 transport over a pseudo-terminal to
// tarvo-devsim: exchanges per second, the waits the line discipline imposes on every exchange (the
// pause before each frame and the quiet time that ends every answer), and for comparison what a
// real line at that speed could carry with 11 bits per character (8-byte request, 25-byte answer).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "platform/variant/OleToVar.h"
#include "server/core/ReplyArray.h"
#include "server/core/ServerFactory.h"
#include "server/modbus/ModBusMaster.h"
#include "server/transports/RS232Transport.h"
#include "server/transports/testing/Devsim.h"

namespace tarvo {
namespace {

class Maker : public IWorkerMaker {
 public:
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t, IWorkerDirectory& dir) override {
    return std::make_shared<TRS232Transport>(dir);
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t, IWorkerDirectory& dir) override {
    return std::make_shared<TModBusMaster>(dir, true);
  }
};

Variant A(std::vector<Variant> items) {
  Variant out;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, std::move(items))), out);
  return out;
}

void BM_ReadTenRegisters(benchmark::State& state) {
  const int speed = static_cast<int>(state.range(0));
  const auto dir = std::filesystem::temp_directory_path() / "tarvo-serial-bench";
  std::filesystem::create_directories(dir);
  setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
  testing::Devsim sim({});
  Maker maker;
  TServerFactory factory(maker);
  const std::int32_t trID =
      factory.CreateTransportInplace(A({ttRS232, sim.Path(), speed, cfcNone, 1000, 0, 1}));
  const std::int32_t id =
      factory.CreateMaster(A({mtMB, 1, mmRTU, mpNone, 1, false, false}), nullptr, nullptr);
  auto master = factory.GetMaster(id);
  master->SetTransportID(trID);
  const Variant read = A({mbReadHoldRegs, 1, 0, 0, int(dtUnsignedWord), 10});
  for (auto _ : state) {
    Variant reply;
    master->RunTaskInplace(read, reply, 5000);
    if (!reply.IsArray() || reply.Array().At(riResult).ToInt32() != mbcOK)
      state.SkipWithError("the read failed");
  }
  const double bps = SpeedBitsPerSecond(speed);
  const double fixedMs = 2.0 + SpeedCharGap(speed) * 5.0;  // default multiplier
  const double lineMs = (8 + 25) * 11 * 1000.0 / bps;
  state.counters["exchanges_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["fixed_wait_ms"] = fixedMs;
  state.counters["line_limit_per_s"] = 1000.0 / lineMs;
  state.counters["line_plus_waits_per_s"] = 1000.0 / (lineMs + fixedMs);
  state.SetLabel(std::to_string(static_cast<int>(bps)) + " bit/s settings");
  master.reset();
}
BENCHMARK(BM_ReadTenRegisters)
    ->Arg(ts19200)
    ->Arg(ts115200)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace tarvo
