// Loading: the tool's reader against a plain strtod loop, both on the same
// 2,000,000-line signal text, in MB/s of text.

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "signal_text.h"
#include "time_history.h"

namespace {

// Three arrays of 2,000,000 doubles: too big for the stack, and the tool
// keeps its own in static storage too.
TimeHistory loaded_history;

const std::string& shared_signal_text() {
  static const std::string text = signal_text();
  return text;
}

// The text in an in-memory file, so the reader gets a descriptor as it does
// in the tool, without a disk in the measurement.
int signal_memory_file() {
  static const int file = [] {
    const std::string& text = shared_signal_text();
    const int created = memfd_create("tarnvale_signal", 0);
    if (created < 0 ||
        write(created, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      std::abort();
    return created;
  }();
  return file;
}

void BM_load_read_time_history(benchmark::State& state) {
  const int memory_file = signal_memory_file();
  for (auto _ : state) {
    // The reader closes what it is given: hand it a duplicate, rewound.
    // The duplicate shares the file position, so rewinding it rewinds both.
    const int input_file = dup(memory_file);
    lseek(input_file, 0, SEEK_SET);
    read_time_history(loaded_history, input_file);
    benchmark::ClobberMemory();
  }
  if (loaded_history.sample_count != SIGNAL_SAMPLES) state.SkipWithError("not every sample loaded");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(shared_signal_text().size()));
}

// The baseline works on the text in memory, so it is spared the read()
// copies the tool's reader makes: a comparison in the baseline's favour.
void BM_load_strtod_baseline(benchmark::State& state) {
  const std::string& text = shared_signal_text();
  std::int32_t count = 0;
  for (auto _ : state) {
    const char* cursor = text.c_str();
    char* next = nullptr;
    count = 0;
    while (count < MAX_SAMPLES) {
      const double time = std::strtod(cursor, &next);
      if (next == cursor) break;
      cursor = next;
      const double amplitude = std::strtod(cursor, &next);
      if (next == cursor) break;
      cursor = next;
      loaded_history.time[count] = time;
      loaded_history.amplitude[count] = amplitude;
      loaded_history.unfiltered_amplitude[count] = amplitude;
      ++count;
    }
    benchmark::ClobberMemory();
  }
  if (count != SIGNAL_SAMPLES) state.SkipWithError("not every sample loaded");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_load_read_time_history)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_load_strtod_baseline)->Unit(benchmark::kMillisecond);
