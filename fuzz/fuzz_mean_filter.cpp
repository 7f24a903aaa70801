// Checks that the fast sweep of apply_mean_filter leaves every bit of the
// array exactly as the plain pass-by-pass loop does, for any data (NaN
// payloads, infinities, negative zeros, huge and subnormal values), every
// window half-width 0..15 and pass counts -2..40; and that, given a
// SampleFinished callback, it tells of every sample once, in ascending
// order, when the sample already holds its final value.
//
// Input: byte 0 picks k, byte 1 the pass count; the rest are samples, each
// introduced by a tag byte: below 0x80 the next 8 bytes are the bit pattern;
// 0x80..0xBF a small integer; from 0xC0 an unusual value from a table.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "mean_filter.h"

namespace {

constexpr int K_CHOICES = 16;      // k = 0 .. 15
constexpr int PASS_CHOICES = 43;   // pass_count = -2 .. 40
constexpr int LOWEST_PASS_COUNT = -2;

double from_bits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Values that raw bit patterns rarely give but that make sums misbehave.
const double UNUSUAL_VALUES[] = {
    0.0,
    -0.0,
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::quiet_NaN(),
    from_bits(0xFFF8000000000000u),  // the NaN that invalid arithmetic yields
    from_bits(0x7FF0000000000001u),  // a signalling NaN
    from_bits(0xFFF123456789ABCDu),  // a negative NaN with a payload
    DBL_MAX,
    -DBL_MAX,
    DBL_MIN,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    1e308,
    0.1,
    1.0 / 3.0,
};
constexpr int UNUSUAL_COUNT = sizeof UNUSUAL_VALUES / sizeof UNUSUAL_VALUES[0];

std::vector<double> samples_from(const std::uint8_t* data, std::size_t size) {
  std::vector<double> samples;
  std::size_t p = 0;
  while (p < size) {
    const std::uint8_t tag = data[p++];
    if (tag < 0x80) {
      std::uint64_t bits = 0;
      const std::size_t taken = size - p < 8 ? size - p : 8;
      std::memcpy(&bits, data + p, taken);
      p += taken;
      samples.push_back(from_bits(bits));
    } else if (tag < 0xC0) {
      samples.push_back(static_cast<double>(static_cast<int>(tag) - 0xA0));
    } else {
      samples.push_back(UNUSUAL_VALUES[(tag - 0xC0) % UNUSUAL_COUNT]);
    }
  }
  return samples;
}

// What the SampleFinished callback sees: it must hear of every sample once,
// in ascending order, each already holding its final value.
struct FinishedLog {
  const double* amplitude;  // the array being filtered
  const double* expected;   // the final values, from the pass-by-pass loop
  std::int32_t next;        // the sample it must hear of next
  std::int32_t k;
  std::int32_t pass_count;
};
FinishedLog finished_log;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void sample_finished(std::int32_t i) {
  FinishedLog& log = finished_log;
  if (i != log.next) {
    std::fprintf(stderr, "k=%d passes=%d: told of sample %d, expected sample %d next\n",
                 static_cast<int>(log.k), static_cast<int>(log.pass_count), static_cast<int>(i),
                 static_cast<int>(log.next));
    std::abort();
  }
  if (!same_bits(log.amplitude[i], log.expected[i])) {
    std::fprintf(stderr, "k=%d passes=%d: told of sample %d holding %a, its final value is %a\n",
                 static_cast<int>(log.k), static_cast<int>(log.pass_count), static_cast<int>(i),
                 log.amplitude[i], log.expected[i]);
    std::abort();
  }
  ++log.next;
}

void check_same(const double* got, const double* expected, std::size_t count, std::int32_t k,
                std::int32_t pass_count, const char* how) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t got_bits, expected_bits;
    std::memcpy(&got_bits, &got[i], sizeof got_bits);
    std::memcpy(&expected_bits, &expected[i], sizeof expected_bits);
    if (got_bits != expected_bits) {
      std::fprintf(stderr,
                   "k=%d passes=%d samples=%zu: sample %zu is %a (bits %016llx) after the fast "
                   "sweep %s but %a (bits %016llx) pass by pass\n",
                   static_cast<int>(k), static_cast<int>(pass_count), count, i, got[i],
                   static_cast<unsigned long long>(got_bits), how, expected[i],
                   static_cast<unsigned long long>(expected_bits));
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t k = data[0] % K_CHOICES;
  const std::int32_t pass_count = data[1] % PASS_CHOICES + LOWEST_PASS_COUNT;
  const std::vector<double> samples = samples_from(data + 2, size - 2);
  const std::size_t count = samples.size();
  const std::int32_t last = static_cast<std::int32_t>(count) - 1;

  // Arrays of exactly `count` doubles on the heap, so AddressSanitizer sees
  // a read or write one sample beyond either end (also when count is 0).
  double* const reference = new double[count];
  double* const fast = new double[count];
  double* const fast_told = new double[count];
  if (count > 0) {
    std::memcpy(reference, samples.data(), count * sizeof(double));
    std::memcpy(fast, samples.data(), count * sizeof(double));
    std::memcpy(fast_told, samples.data(), count * sizeof(double));
  }

  apply_mean_filter_pass_by_pass(reference, last, k, pass_count);
  apply_mean_filter(fast, last, k, pass_count);
  check_same(fast, reference, count, k, pass_count, "without a callback");

  finished_log = {fast_told, reference, 0, k, pass_count};
  apply_mean_filter(fast_told, last, k, pass_count, sample_finished);
  if (finished_log.next != static_cast<std::int32_t>(count)) {
    std::fprintf(stderr, "k=%d passes=%d: told of %d samples out of %zu\n", static_cast<int>(k),
                 static_cast<int>(pass_count), static_cast<int>(finished_log.next), count);
    std::abort();
  }
  check_same(fast_told, reference, count, k, pass_count, "with a callback");

  delete[] reference;
  delete[] fast;
  delete[] fast_told;
  return 0;
}
