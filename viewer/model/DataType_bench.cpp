// FormatValue per typical unit: a read formula with a fixed-decimal code, hexadecimal, a
// calendar code; the plain decimal unit is the baseline the others compare with.
#include <benchmark/benchmark.h>

#include "viewer/model/DataType.h"

namespace tarvo {
namespace {

TDataType Single(VarType vt, std::uint8_t type, std::uint8_t code, const char* formula = "") {
  TDataType d;
  d.FrameKind = kFrameStruct;
  d.Empty = false;
  d.ItemCount = 1;
  d.ItemTypes = Variant(static_cast<std::int32_t>(vt));
  TDataUnit u;
  u.FrmtType = type;
  u.FrmtCode = code;
  u.UseFormula = *formula != 0;
  u.ReadFormula = formula;
  d.DataUnits = {u};
  return d;
}

void Run(benchmark::State& state, const TDataType& d, const Variant& raw) {
  for (auto _ : state) benchmark::DoNotOptimize(d.FormatValue(raw, 0));
  state.SetItemsProcessed(state.iterations());
}

void BM_PlainDecimal(benchmark::State& s) { Run(s, Single(VT_UI2, 0, 0), Variant(std::uint16_t{1234})); }
void BM_FormulaFixed2(benchmark::State& s) {
  const TDataType d = Single(VT_UI2, 3, 11, "r/10");
  Run(s, d, Variant(std::uint16_t{1234}));
}
void BM_Hex(benchmark::State& s) { Run(s, Single(VT_UI2, 1, 0), Variant(std::uint16_t{0xBEEF})); }
void BM_Calendar(benchmark::State& s) { Run(s, Single(VT_UI4, 3, 32), Variant(std::uint32_t{1709251199})); }

BENCHMARK(BM_PlainDecimal);
BENCHMARK(BM_FormulaFixed2);
BENCHMARK(BM_Hex);
BENCHMARK(BM_Calendar);

}  // namespace
}  // namespace tarvo
