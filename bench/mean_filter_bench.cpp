// Filter: the fast sweep against the pass-by-pass loop on 2,000,000
// samples, in ns per sample and pass, for windows of 3, 5 and 31 samples.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "mean_filter.h"
#include "signal_text.h"

namespace {

using Filter = void (*)(double*, std::int32_t, std::int32_t, std::int32_t);

// The sweep as the tool calls it when no writer follows it.
void sweep_alone(double* amplitude, std::int32_t last, std::int32_t k, std::int32_t pass_count) {
  apply_mean_filter(amplitude, last, k, pass_count);
}

void BM_filter(benchmark::State& state, Filter filter, std::int32_t k, std::int32_t pass_count) {
  static const std::vector<double> input = signal_amplitudes();
  static std::vector<double> amplitude(input.size());
  const auto last = static_cast<std::int32_t>(input.size()) - 1;
  for (auto _ : state) {
    // The filter works in place: every iteration starts from the same input.
    // The copy (a few ms) is left out of the timing; pausing costs well under
    // a microsecond, against milliseconds of filtering per iteration.
    state.PauseTiming();
    std::copy(input.begin(), input.end(), amplitude.begin());
    state.ResumeTiming();
    filter(amplitude.data(), last, k, pass_count);
    benchmark::ClobberMemory();
  }
  const int64_t items_per_iteration = static_cast<int64_t>(input.size()) * pass_count;
  state.SetItemsProcessed(state.iterations() * items_per_iteration);
  // The inverse of a rate: time per sample and pass, shown as e.g. "1.2ns".
  state.counters["per_sample_pass"] = benchmark::Counter(
      static_cast<double>(items_per_iteration),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Registered pair by pair, so each fast figure sits next to its baseline.
const bool filter_benchmarks_registered = [] {
  for (std::int32_t k : {1, 2, 15})
    for (std::int32_t pass_count : {1, 4, 20}) {
      const std::string arguments =
          "/k:" + std::to_string(k) + "/passes:" + std::to_string(pass_count);
      benchmark::RegisterBenchmark(("BM_filter/fast" + arguments).c_str(), BM_filter, sweep_alone,
                                   k, pass_count)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("BM_filter/pass_by_pass_baseline" + arguments).c_str(),
                                   BM_filter, apply_mean_filter_pass_by_pass, k, pass_count)
          ->Unit(benchmark::kMillisecond);
    }
  return true;
}();

}  // namespace
