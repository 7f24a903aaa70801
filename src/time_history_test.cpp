#include "time_history.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

TimeHistory history;  // 48 MB: static, as in the tool

using Samples = std::vector<std::pair<double, double>>;

int file_holding(const std::string& bytes) {
  const int file = memfd_create("time-history", 0);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = write(file, bytes.data() + written, bytes.size() - written);
    if (put <= 0) throw std::runtime_error("write");
    written += static_cast<std::size_t>(put);
  }
  lseek(file, 0, SEEK_SET);
  return file;
}

// Loads `bytes` and returns the samples, checking the bookkeeping that every
// load must keep: last, and the unfiltered copy.
Samples load(const std::string& bytes) {
  read_time_history(history, file_holding(bytes));
  EXPECT_EQ(history.sample_count - 1, history.last);
  Samples samples;
  for (std::int32_t i = 0; i < history.sample_count; ++i) {
    EXPECT_EQ(history.amplitude[i], history.unfiltered_amplitude[i]) << i;
    samples.emplace_back(history.time[i], history.amplitude[i]);
  }
  return samples;
}

TEST(TimeHistory, LayoutOfLinesDoesNotMatter) {
  const Samples three = {{0, 1}, {0.5, 2}, {1.0, 3}};
  for (const char* bytes : {"0 1\n0.5 2\n1.0 3\n", "0 1 0.5 2 1.0 3", "0\n1\n0.5\n2\n1.0\n3\n",
                            "0 1\r\n0.5 2\r\n1.0 3\r\n", "\t 0\v1\f0.5\r2   1.0 3 \n\n\n"})
    EXPECT_EQ(three, load(bytes)) << bytes;
}

TEST(TimeHistory, LoadingEndsWhereATimeCannotBeRead) {
  using namespace std::string_literals;  // for the NUL byte below
  const struct {
    std::string bytes;
    Samples samples;
  } cases[] = {
      {"", {}},
      {" \r\n\t", {}},
      {"time amplitude\n0 1\n", {}},
      {"\xEF\xBB\xBF"
       "0 1\n",
       {}},                            // a byte-order mark is not blank
      {"0 1\n2\n", {{0, 1}, {2, 0}}},  // a single last number: amplitude 0
      {"0,1\n1,2\n", {{0, 0}}},        // a comma cuts the first pair short
      {"1.2.3 4", {{1.2, 0.3}, {4, 0}}},
      {"1-2 3e 4e+ 5", {{1, -2}, {3, 4}, {5, 0}}},  // exponents without digits count as none
      {"3 - 5 6", {{3, 0}, {5, 6}}},                // a lone sign is lost, then reading goes on
      {"3 -x 5 6", {{3, 0}}},
      {"0 1\n\x1a 2 3", {{0, 1}}},  // 0x1A has no end-of-file meaning
      {"0 1 2 3\0 4 5"s, {{0, 1}, {2, 3}}},
      {"0 1 -", {{0, 1}}},
      {"0 1 2 .", {{0, 1}, {2, 0}}},
      {"0x1p3 7", {{0, 0}}},
      {"5 inf", {{5, 0}}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.samples, load(c.bytes)) << c.bytes;
}

TEST(TimeHistory, ValuesBeyondTheDoubleRangeSaturate) {
  const Samples samples = load("1e999 -1e999 1e-999 -1e-999 -0 4.9406564584124654e-324");
  ASSERT_EQ(3u, samples.size());
  EXPECT_EQ(std::numeric_limits<double>::infinity(), samples[0].first);
  EXPECT_EQ(-std::numeric_limits<double>::infinity(), samples[0].second);
  EXPECT_EQ(0.0, samples[1].first);
  EXPECT_FALSE(std::signbit(samples[1].first));
  EXPECT_TRUE(std::signbit(samples[1].second));
  EXPECT_TRUE(std::signbit(samples[2].first));
  EXPECT_EQ(std::numeric_limits<double>::denorm_min(), samples[2].second);
}

TEST(TimeHistory, StopsAtTheCapacityAndIgnoresTheRest) {
  std::string bytes;
  for (int i = 0; i < MAX_SAMPLES + 3; ++i) bytes += i == MAX_SAMPLES - 1 ? "7 8\n" : "0 0\n";
  const Samples samples = load(bytes);
  ASSERT_EQ(static_cast<std::size_t>(MAX_SAMPLES), samples.size());
  EXPECT_EQ(MAX_SAMPLES - 1, history.last);
  EXPECT_EQ(std::make_pair(7.0, 8.0), samples.back());
}

// Several megabytes of long numbers and long runs of blanks, so that numbers
// and blank runs straddle the boundaries of the chunks the file is read in.
TEST(TimeHistory, NumbersAcrossChunkBoundariesLoadWhole) {
  std::mt19937 random(2007);
  std::string bytes;
  Samples expected;
  for (int i = 0; bytes.size() < (6u << 20); ++i) {
    const std::string zeros(random() % 340, '0');  // the 349-character budget is never reached
    bytes += zeros + std::to_string(i) + std::string(1 + random() % 3000, i % 2 ? ' ' : '\n');
    bytes += "-" + std::to_string(i) + ".5" + std::string(1 + random() % 5, '\t');
    expected.emplace_back(i, -i - 0.5);
  }
  EXPECT_EQ(expected, load(bytes));
}

TEST(TimeHistory, ReadsFromAPipeAsFromAFile) {
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  const std::string bytes = "0 1\n0.001 -2.5\n";
  ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(ends[1], bytes.data(), bytes.size()));
  close(ends[1]);
  read_time_history(history, ends[0]);
  EXPECT_EQ(1, history.last);
  EXPECT_EQ(-2.5, history.amplitude[1]);
}

}  // namespace
