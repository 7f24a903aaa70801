#include "mean_filter.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

std::vector<double> filtered(std::vector<double> amplitude, int k, int passes) {
  apply_mean_filter(amplitude.data(), static_cast<std::int32_t>(amplitude.size()) - 1, k, passes);
  return amplitude;
}

// The expected values follow the in-place rule by hand: each window sees
// the new values to its left and the old ones from its own sample on.
TEST(MeanFilter, OnePassUsesValuesAlreadyReplaced) {
  const double a0 = (1.0 + 2.0) / 2.0;
  const double a1 = (a0 + 2.0 + 3.0) / 3.0;
  const double a2 = (a1 + 3.0 + 4.0) / 3.0;
  const double a3 = (a2 + 4.0 + 5.0) / 3.0;
  const double a4 = (a3 + 5.0) / 2.0;
  EXPECT_EQ((std::vector<double>{a0, a1, a2, a3, a4}), filtered({1, 2, 3, 4, 5}, 1, 1));
  // and these are the fractions the in-place rule gives, not a moving average
  const std::vector<double> fractions = {3.0 / 2, 13.0 / 6, 55.0 / 18, 217.0 / 54, 487.0 / 108};
  for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(fractions[i], filtered({1, 2, 3, 4, 5}, 1, 1)[i]);
}

TEST(MeanFilter, SecondPassStartsFromTheFirstPassResult) {
  const std::vector<double> once = filtered({1, 2, 3, 4, 5}, 1, 1);
  EXPECT_EQ(filtered(once, 1, 1), filtered({1, 2, 3, 4, 5}, 1, 2));
  const std::vector<double> fractions = {11.0 / 6, 127.0 / 54, 509.0 / 162, 3781.0 / 972,
                                         2041.0 / 486};
  const std::vector<double> twice = filtered({1, 2, 3, 4, 5}, 1, 2);
  for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(fractions[i], twice[i]);
}

TEST(MeanFilter, WorkedExamplesGiveExactDoubles) {
  EXPECT_EQ((std::vector<double>{0.0, 3.0, 4.0, 4.0 / 3.0, (4.0 / 3.0 + 0.0) / 2.0}),
            filtered({0, 0, 9, 0, 0}, 1, 1));
  EXPECT_EQ(2.0 / 3.0, filtered({0, 0, 9, 0, 0}, 1, 1)[4]);
  EXPECT_EQ((std::vector<double>{1.5, 1.75}), filtered({1, 2}, 2, 1));
  const std::vector<double> seven = filtered({1, 2, 3, 4, 5, 6, 7}, 3, 1);
  const std::vector<double> fractions = {5.0 / 2,       33.0 / 10,   119.0 / 30, 953.0 / 210,
                                         6259.0 / 1260, 953.0 / 180, 109.0 / 20};
  for (int i = 0; i < 7; ++i) EXPECT_DOUBLE_EQ(fractions[i], seven[i]) << i;
}

TEST(MeanFilter, WindowsAreSummedAfreshInAscendingOrder) {
  // 1e16 + 1 + 1 rounds differently from 1 + 1 + 1e16, and a running sum that
  // subtracts the leaving sample would drift from both.
  const double big = 1e16;
  const double first = (0.0 + big + 1.0) / 2.0;
  const double second = ((0.0 + first) + 1.0 + 1.0) / 3.0;
  const std::vector<double> result = filtered({big, 1, 1, 1}, 1, 1);
  EXPECT_EQ(first, result[0]);
  EXPECT_EQ(second, result[1]);
}

TEST(MeanFilter, LeavesValuesAloneWhenThereIsNothingToDo) {
  const std::vector<double> signal = {3, -1, 4, 1, -5, 9};
  EXPECT_EQ(signal, filtered(signal, 1, 0));
  EXPECT_EQ(signal, filtered(signal, 15, -3));
  EXPECT_EQ(signal, filtered(signal, 0, 20));
  EXPECT_EQ(std::vector<double>{7.25}, filtered({7.25}, 15, 4));
  double untouched = 42.0;
  apply_mean_filter(&untouched, -1, 15, 5);  // no samples: nothing may be read or written
  EXPECT_EQ(42.0, untouched);
}

TEST(MeanFilter, WideWindowIsCutAtBothEnds) {
  // 31 samples with window 31: sample 0 averages 16 values, sample 15 all 31.
  std::vector<double> signal(31, 0.0);
  signal[30] = 31.0;
  const std::vector<double> result = filtered(signal, 15, 1);
  EXPECT_EQ(0.0, result[14]);
  EXPECT_EQ(31.0 / 31.0, result[15]);
}

}  // namespace

namespace {

// What the filter handed on, and when: the index and the value's bits at
// the moment it was handed on.
std::vector<std::pair<std::int32_t, std::uint64_t>> finished_values;
const double* filtering = nullptr;

void take_finished(std::int32_t i) {
  finished_values.emplace_back(i, std::bit_cast<std::uint64_t>(filtering[i]));
}

// The sweep that carries several passes at once must give the bits that
// one pass after the other gives, at every edge, for every window and any
// number of passes, whatever the values (zeros of both signs, infinities,
// not-a-numbers and magnitudes whose sums round).
TEST(MeanFilter, SweepAgreesBitForBitWithPassByPass) {
  std::mt19937_64 random(31);
  const double awkward[] = {0.0,
                            -0.0,
                            1e308,
                            -1e308,
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            4.9e-324,
                            1e16,
                            1.0};
  for (int round = 0; round < 3000; ++round) {
    const int size = round < 600 ? round % 60 : static_cast<int>(random() % 3000);
    const int k = static_cast<int>(random() % 16);
    const int passes = static_cast<int>(random() % 22) - 1;
    std::vector<double> signal(static_cast<std::size_t>(size));
    for (double& value : signal) {
      const auto pick = random() % 20;
      value = pick < 2 ? awkward[random() % 9]
                       : std::ldexp(static_cast<double>(static_cast<std::int64_t>(random())),
                                    static_cast<int>(random() % 80) - 100);
    }
    std::vector<double> expected = signal;
    apply_mean_filter_pass_by_pass(expected.data(), size - 1, k, passes);
    finished_values.clear();
    filtering = signal.data();
    apply_mean_filter(signal.data(), size - 1, k, passes, take_finished);
    ASSERT_TRUE(signal.empty() ||
                std::memcmp(expected.data(), signal.data(), signal.size() * sizeof(double)) == 0)
        << "size " << size << " k " << k << " passes " << passes;
    // Every sample was handed on once, in order, already holding its final value.
    ASSERT_EQ(signal.size(), finished_values.size());
    for (std::size_t i = 0; i < signal.size(); ++i)
      ASSERT_EQ(finished_values[i], std::make_pair(static_cast<std::int32_t>(i),
                                                   std::bit_cast<std::uint64_t>(expected[i])))
          << "size " << size << " k " << k << " passes " << passes;
  }
}

}  // namespace
