#pragma once

#include <cstdint>

// The samples of one run, held in fixed arrays for the whole run so that
// loading, filtering and writing never allocate.

inline constexpr std::int32_t MAX_SAMPLES = 2'000'000;

struct TimeHistory {
  double time[MAX_SAMPLES];                  // seconds; never changed after loading
  double amplitude[MAX_SAMPLES];             // filtered in place
  double unfiltered_amplitude[MAX_SAMPLES];  // the loaded amplitudes, kept for the residual
  std::int32_t sample_count;
  std::int32_t last;  // sample_count - 1; -1 when nothing was loaded
};

// Loads time and amplitude pairs from `input_file` (an open descriptor, read
// as bytes) until the input ends, a time cannot be read, or MAX_SAMPLES
// samples are stored; then closes `input_file`. A pair whose amplitude cannot
// be read still counts, with amplitude 0.0, and is the last one loaded unless
// the text that follows begins a new pair. A read error counts as the end.
void read_time_history(TimeHistory& history, int input_file);
