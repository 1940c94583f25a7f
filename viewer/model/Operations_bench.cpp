#include <benchmark/benchmark.h>

#include <cstdint>

#include "viewer/model/Operations.h"

namespace tarvo {
namespace {

// A raw 16-bit register scaled to engineering units, as a read formula does on every poll.
void BM_EvaluateScaledRegister(benchmark::State& state) {
  const Variant raw(std::uint16_t{1234});
  TOperations ops;
  Variant result;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ops.Evaluate("r * 0.1 + 2", raw, result, 0, 0));
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateScaledRegister);

// A bit field extracted from one element of a block of registers.
void BM_EvaluateBitField(benchmark::State& state) {
  const Variant raw(SafeArray::Of(VT_UI2, {Variant(std::uint16_t{0x1234}), Variant(std::uint16_t{0xBEEF})}));
  TOperations ops;
  Variant result;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ops.Evaluate("(r1 shr 4) and $0f", raw, result, 0, 0));
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateBitField);

}  // namespace
}  // namespace tarvo
