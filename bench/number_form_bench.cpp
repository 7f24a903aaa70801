// Number form: format_exponent (and its exact reference) against snprintf
// with the second rounding done by hand, in ns per number, on the kinds of
// values result files hold.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "number_form.h"

namespace {

// Enough values to vary every digit, few enough to stay in cache: the
// formatting is measured, not the memory.
constexpr int VALUE_COUNT = 1 << 16;

enum class ValueKind { times, amplitudes, window_means };

std::vector<double> make_values(ValueKind kind) {
  std::mt19937_64 generator(2007);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> sum_of_integers(-3000, 3000);
  std::uniform_int_distribution<int> half_width(1, 15);
  std::vector<double> values(VALUE_COUNT);
  for (int i = 0; i < VALUE_COUNT; ++i) {
    switch (kind) {
      case ValueKind::times:  // spread over a whole 2,000,000-sample file
        values[i] = (i * 30.5) * 1e-4;
        break;
      case ValueKind::amplitudes:
        values[i] = normal(generator);
        break;
      case ValueKind::window_means:  // what a window of 3 to 31 samples gives
        values[i] = sum_of_integers(generator) / static_cast<double>(2 * half_width(generator) + 1);
        break;
    }
  }
  return values;
}

const std::vector<double>& values_of(ValueKind kind) {
  static const std::vector<double> times = make_values(ValueKind::times);
  static const std::vector<double> amplitudes = make_values(ValueKind::amplitudes);
  static const std::vector<double> window_means = make_values(ValueKind::window_means);
  switch (kind) {
    case ValueKind::times:
      return times;
    case ValueKind::amplitudes:
      return amplitudes;
    default:
      return window_means;
  }
}

int digits_for(ValueKind kind) { return kind == ValueKind::times ? TIME_DIGITS : VALUE_DIGITS; }

// The baseline: glibc gives the 17 significant digits, then the same second
// rounding (half up, carrying through nines) and the same layout, sign and
// three-digit exponent, by hand. Values here are finite, so the markers for
// infinities and not-a-numbers are left out. Needs fewer than 17 digits.
int format_exponent_by_snprintf(double value, int significant_digits, char* out) {
  char text[40];
  std::snprintf(text, sizeof text, "%.16e", value);  // "-d.dddddddddddddddde+XX"
  const char* cursor = text;
  const bool negative = *cursor == '-' && value != 0.0;
  if (*cursor == '-') ++cursor;
  char digits[17];
  digits[0] = cursor[0];
  std::memcpy(digits + 1, cursor + 2, 16);
  cursor += 18;  // the 'e'
  const bool exponent_negative = cursor[1] == '-';
  int exponent = 0;
  for (cursor += 2; *cursor != '\0'; ++cursor) exponent = exponent * 10 + (*cursor - '0');
  if (exponent_negative) exponent = -exponent;

  if (digits[significant_digits] >= '5') {
    int i = significant_digits - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
      ++digits[i];
    } else {  // 9.99...9 became 10.0...0
      digits[0] = '1';
      ++exponent;
    }
  }

  char* write = out;
  if (negative) *write++ = '-';
  *write++ = digits[0];
  *write++ = '.';
  std::memcpy(write, digits + 1, significant_digits - 1);
  write += significant_digits - 1;
  *write++ = 'e';
  *write++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  *write++ = static_cast<char>('0' + magnitude / 100);
  *write++ = static_cast<char>('0' + magnitude / 10 % 10);
  *write++ = static_cast<char>('0' + magnitude % 10);
  return static_cast<int>(write - out);
}

using Formatter = int (*)(double, int, char*);

void BM_format(benchmark::State& state, Formatter format, ValueKind kind) {
  const std::vector<double>& values = values_of(kind);
  const int digits = digits_for(kind);
  char out[NUMBER_FORM_MAX];
  for (auto _ : state) {
    for (double value : values) {
      benchmark::DoNotOptimize(format(value, digits, out));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * VALUE_COUNT);
  // The inverse of a rate: time per number, shown as e.g. "12.3ns".
  state.counters["per_number"] = benchmark::Counter(
      VALUE_COUNT, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);

  // Outside the timing: how many texts differ from format_exponent's, so a
  // baseline that does less work than it should cannot go unnoticed.
  int differing = 0;
  char expected[NUMBER_FORM_MAX];
  for (double value : values) {
    const int length = format(value, digits, out);
    if (length != format_exponent(value, digits, expected) ||
        std::memcmp(out, expected, length) != 0)
      ++differing;
  }
  state.counters["differing"] = differing;
}

}  // namespace

BENCHMARK_CAPTURE(BM_format, times_fast, format_exponent, ValueKind::times);
BENCHMARK_CAPTURE(BM_format, times_exact, format_exponent_exact, ValueKind::times);
BENCHMARK_CAPTURE(BM_format, times_snprintf_baseline, format_exponent_by_snprintf,
                  ValueKind::times);
BENCHMARK_CAPTURE(BM_format, amplitudes_fast, format_exponent, ValueKind::amplitudes);
BENCHMARK_CAPTURE(BM_format, amplitudes_exact, format_exponent_exact, ValueKind::amplitudes);
BENCHMARK_CAPTURE(BM_format, amplitudes_snprintf_baseline, format_exponent_by_snprintf,
                  ValueKind::amplitudes);
BENCHMARK_CAPTURE(BM_format, window_means_fast, format_exponent, ValueKind::window_means);
BENCHMARK_CAPTURE(BM_format, window_means_exact, format_exponent_exact, ValueKind::window_means);
BENCHMARK_CAPTURE(BM_format, window_means_snprintf_baseline, format_exponent_by_snprintf,
                  ValueKind::window_means);
