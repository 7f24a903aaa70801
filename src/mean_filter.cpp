#include "mean_filter.h"

#include <algorithm>
#include <utility>

namespace {

// How many passes one sweep carries along. Each pass is a chain of
// dependent additions; several chains in flight keep the adder busy.
constexpr int PASSES_PER_SWEEP = 8;
constexpr int LARGEST_K = 15;

// One sample of one pass, with the window cut at both ends of the data.
// Starting from 0.0 (not from the first term) matters: it turns a window of
// negative zeros into positive zero.
inline void filter_sample_at_edge(double* amplitude, std::int32_t i, std::int32_t last,
                                  std::int32_t k) {
  double sum = 0.0;
  const std::int32_t first = std::max(i - k, 0);
  const std::int32_t final = std::min(i + k, last);
  for (std::int32_t j = first; j <= final; ++j) sum += amplitude[j];
  amplitude[i] = sum / static_cast<double>(final - first + 1);
}

// The same for a window that lies wholly inside the data, unrolled.
template <int K>
inline void filter_inner_sample(double* amplitude, std::int32_t i) {
  double sum = 0.0;
  for (int j = -K; j <= K; ++j) sum += amplitude[i + j];
  amplitude[i] = sum / static_cast<double>(2 * K + 1);
}

// Runs PASSES passes in one sweep over the array. Pass p trails pass p - 1
// by K + 1 samples: by the time it reaches sample i, the pass before it has
// finished every sample its window reads (up to i + K) and no longer reads
// anything below i, so all passes work in the one array and every addition
// sees exactly the value it sees when the passes run one after the other.
// In the last sweep, `finished` hears of each sample its last pass is done
// with.
template <int K, int PASSES>
void sweep(double* amplitude, std::int32_t last, SampleFinished finished) {
  constexpr std::int32_t lag = K + 1;
  constexpr std::int32_t trail = (PASSES - 1) * lag;
  const std::int32_t final_step = last + trail;
  // Steps where every pass has a whole window inside the data.
  const std::int32_t inner_begin = trail + K;
  const std::int32_t inner_end = last - K;  // inclusive
  const auto edge_step = [&](std::int32_t step) {
    for (int p = 0; p < PASSES; ++p) {
      const std::int32_t i = step - p * lag;
      if (i < 0 || i > last) continue;
      filter_sample_at_edge(amplitude, i, last, K);
      if (p == PASSES - 1 && finished) finished(i);
    }
  };
  std::int32_t step = 0;
  for (; step <= final_step && step < inner_begin; ++step) edge_step(step);
  for (; step <= inner_end; ++step) {
    for (int p = 0; p < PASSES; ++p) filter_inner_sample<K>(amplitude, step - p * lag);
    if (finished) finished(step - trail);
  }
  for (; step <= final_step; ++step) edge_step(step);
}

template <int K, int PASSES>
void sweep_passes(double* amplitude, std::int32_t last, std::int32_t passes_left,
                  SampleFinished finished) {
  if constexpr (PASSES > 1) {
    if (passes_left < PASSES)
      return sweep_passes<K, PASSES - 1>(amplitude, last, passes_left, finished);
  }
  sweep<K, PASSES>(amplitude, last, passes_left == PASSES ? finished : nullptr);
}

template <int K>
void filter_with_window(double* amplitude, std::int32_t last, std::int32_t pass_count,
                        SampleFinished finished) {
  // Counted down: counting up to the largest pass count would overflow.
  for (std::int32_t left = pass_count; left > 0; left -= PASSES_PER_SWEEP)
    sweep_passes<K, PASSES_PER_SWEEP>(amplitude, last, left, finished);
}

template <int... K>
void filter_with_any_window(double* amplitude, std::int32_t last, std::int32_t k,
                            std::int32_t pass_count, SampleFinished finished,
                            std::integer_sequence<int, K...>) {
  ((k == K ? filter_with_window<K>(amplitude, last, pass_count, finished) : void()), ...);
}

void finish_all(std::int32_t last, SampleFinished finished) {
  if (finished)
    for (std::int32_t i = 0; i <= last; ++i) finished(i);
}

}  // namespace

void apply_mean_filter(double* amplitude, std::int32_t last, std::int32_t k,
                       std::int32_t pass_count, SampleFinished finished) {
  if (pass_count < 1 || last < 0 || k < 0 || k > LARGEST_K) {
    apply_mean_filter_pass_by_pass(amplitude, last, k, pass_count);
    return finish_all(last, finished);
  }
  // A window of one sample only turns -0 into +0; every pass after the
  // first changes no bit, so however many were asked for, one will do.
  if (k == 0) pass_count = 1;
  filter_with_any_window(amplitude, last, k, pass_count, finished,
                         std::make_integer_sequence<int, LARGEST_K + 1>());
}

void apply_mean_filter_pass_by_pass(double* amplitude, std::int32_t last, std::int32_t k,
                                    std::int32_t pass_count) {
  // Written out as plainly as the rule reads, sharing nothing with the sweep,
  // so that the sweep is checked against an independent statement of it.
  for (std::int32_t pass = 0; pass < pass_count; ++pass) {
    for (std::int32_t i = 0; i <= last; ++i) {
      double sum = 0.0;
      std::int32_t count = 0;
      for (std::int64_t j = static_cast<std::int64_t>(i) - k; j <= static_cast<std::int64_t>(i) + k;
           ++j) {
        if (j >= 0 && j <= last) {
          sum += amplitude[j];
          ++count;
        }
      }
      if (count > 0) amplitude[i] = sum / static_cast<double>(count);
    }
  }
}
