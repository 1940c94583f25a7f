// Cost of the codec per exchange: reading a request array, building the frame, and checking and
// decoding a 10-register answer into the reply array.

#include <benchmark/benchmark.h>

#include "platform/variant/OleToVar.h"
#include "server/modbus/ModbusCodec.h"
#include "server/modbus/ModbusRequest.h"

namespace tarvo {
namespace {

Variant TenRegisterRead() {
  Variant out;
  OleToVar(Variant(SafeArray::Of(VT_VARIANT, {Variant(int(mbReadHoldRegs)), Variant(1), Variant(0),
                                              Variant(100), Variant(int(dtUnsignedWord)),
                                              Variant(10)})),
           out);
  return out;
}

TModbusTask Task(TModbusMode mode) {
  TModbusSettings s;
  s.DevAddr = 1;
  s.Mode = mode;
  return MakeRequest(TenRegisterRead(), s);
}

// The device's answer to a 10-register read, framed as the mode wants.
TBaseTransportTask Answer(TModbusMode mode) {
  std::uint8_t pdu[23] = {1, 3, 20};
  for (int k = 0; k < 20; ++k) pdu[3 + k] = static_cast<std::uint8_t>(k * 7);
  TBaseTransportTask a;
  const int len = MakeFrame(pdu, sizeof pdu, mode, a.Buf);
  a.Bufsize = len;
  return a;
}

void BM_ReadRequestArray(benchmark::State& state) {
  const Variant request = TenRegisterRead();
  TModbusSettings s;
  s.DevAddr = 1;
  for (auto _ : state) benchmark::DoNotOptimize(MakeRequest(request, s));
}
BENCHMARK(BM_ReadRequestArray);

// One exchange as the master does it: build the frame, then check and decode the answer.
void BM_Exchange(benchmark::State& state) {
  const TModbusMode mode = state.range(0) ? mmASCII : mmRTU;
  const TModbusTask task = Task(mode);
  const TBaseTransportTask answer = Answer(mode);
  TFrameBuf frame{}, scratch{};
  Variant reply;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormQuery(frame, task));
    if (Parse(answer, task, scratch, reply) != mbcOK) state.SkipWithError("answer refused");
    benchmark::DoNotOptimize(reply);
  }
  state.SetLabel(mode == mmRTU ? "RTU" : "ASCII");
}
BENCHMARK(BM_Exchange)->Arg(0)->Arg(1);

void BM_FormQuery(benchmark::State& state) {
  const TModbusTask task = Task(state.range(0) ? mmASCII : mmRTU);
  TFrameBuf frame{};
  for (auto _ : state) benchmark::DoNotOptimize(FormQuery(frame, task));
  state.SetLabel(state.range(0) ? "ASCII" : "RTU");
}
BENCHMARK(BM_FormQuery)->Arg(0)->Arg(1);

void BM_Parse(benchmark::State& state) {
  const TModbusMode mode = state.range(0) ? mmASCII : mmRTU;
  const TModbusTask task = Task(mode);
  const TBaseTransportTask answer = Answer(mode);
  TFrameBuf scratch{};
  Variant reply;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Parse(answer, task, scratch, reply));
  }
  state.SetLabel(mode == mmRTU ? "RTU" : "ASCII");
}
BENCHMARK(BM_Parse)->Arg(0)->Arg(1);

}  // namespace
}  // namespace tarvo
