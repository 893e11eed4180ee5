// Micro-benchmarks of the expression readers on texts typical of options
// and prompt answers.
#include <benchmark/benchmark.h>

#include "numio.h"

namespace {

constexpr const char *kRealTexts[] = {"0.15_nm", "2*pi",     "sqrt(2)/2", "(1+2)*3_mm",
                                      "1.5e-10", "12.5_keV", "-1"};
constexpr const char *kIntegerTexts[] = {"100", "2*512", "(round)1_km", "-3+7*2", "true"};

void BM_num_str2double(benchmark::State &state) {
  const char *text = kRealTexts[state.range(0)];
  state.SetLabel(text);
  for (auto _ : state) {
    int errval = 0;
    benchmark::DoNotOptimize(num_str2double(text, nullptr, &errval));
  }
}
BENCHMARK(BM_num_str2double)->DenseRange(0, std::size(kRealTexts) - 1);

void BM_num_str2long(benchmark::State &state) {
  const char *text = kIntegerTexts[state.range(0)];
  state.SetLabel(text);
  for (auto _ : state) {
    int errval = 0;
    benchmark::DoNotOptimize(num_str2long(text, nullptr, &errval));
  }
}
BENCHMARK(BM_num_str2long)->DenseRange(0, std::size(kIntegerTexts) - 1);

}  // namespace
