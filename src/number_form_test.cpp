#include "number_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using FormatFunction = int (*)(double, int, char*);

std::string formatted_with(FormatFunction format, double value, int digits) {
  char buffer[NUMBER_FORM_MAX];
  const int length = format(value, digits, buffer);
  if (length < 0 || length > NUMBER_FORM_MAX) return "<bad length " + std::to_string(length) + ">";
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string fast(double value, int digits) {
  return formatted_with(format_exponent, value, digits);
}
std::string exact(double value, int digits) {
  return formatted_with(format_exponent_exact, value, digits);
}

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }
double from_text(const char* text) { return std::strtod(text, nullptr); }
double next_up(double value) {
  return std::nextafter(value, std::numeric_limits<double>::infinity());
}
double next_down(double value) {
  return std::nextafter(value, -std::numeric_limits<double>::infinity());
}

std::string hex_bits(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016llx",
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
  return text;
}

struct Expected {
  double value;
  const char* as_time;
  const char* as_value;
};

void expect_both_functions(const Expected& expected) {
  SCOPED_TRACE("input " + hex_bits(expected.value));
  EXPECT_EQ(exact(expected.value, TIME_DIGITS), expected.as_time);
  EXPECT_EQ(fast(expected.value, TIME_DIGITS), expected.as_time);
  EXPECT_EQ(exact(expected.value, VALUE_DIGITS), expected.as_value);
  EXPECT_EQ(fast(expected.value, VALUE_DIGITS), expected.as_value);
}

TEST(NumberForm, ShowsTheDocumentedExamples) {
  const Expected examples[] = {
      {0.0, "0.0000000e+000", "0.00000e+000"},
      {-0.0, "0.0000000e+000", "0.00000e+000"},
      {1.5, "1.5000000e+000", "1.50000e+000"},
      {-1.0, "-1.0000000e+000", "-1.00000e+000"},
      {0.001, "1.0000000e-003", "1.00000e-003"},
      {123456.789, "1.2345679e+005", "1.23457e+005"},
      {9.99999996, "1.0000000e+001", "1.00000e+001"},
      {12345678.5, "1.2345679e+007", "1.23457e+007"},
      {1.00000015, "1.0000002e+000", "1.00000e+000"},
      {1.200005, "1.2000050e+000", "1.20001e+000"},
      {from_bits(1), "4.9406565e-324", "4.94066e-324"},
      {std::numeric_limits<double>::max(), "1.7976931e+308", "1.79769e+308"},
      {4.0 / 3.0, "1.3333333e+000", "1.33333e+000"},
      {2.0 / 3.0, "6.6666667e-001", "6.66667e-001"},
      {-2.0 / 3.0, "-6.6666667e-001", "-6.66667e-001"},
  };
  for (const Expected& example : examples) expect_both_functions(example);
}

TEST(NumberForm, ShowsMarkersForInfinitiesAndNotANumber) {
  const Expected markers[] = {
      {std::numeric_limits<double>::infinity(), "1.#INF000e+000", "1.#INF0e+000"},
      {-std::numeric_limits<double>::infinity(), "-1.#INF000e+000", "-1.#INF0e+000"},
      {from_bits(0x7FF8000000000000u), "1.#QNAN00e+000", "1.#QNANe+000"},
      {from_bits(0xFFF8000000000000u), "-1.#IND000e+000", "-1.#IND0e+000"},
      // Any payload besides the bare quiet bit, or a signalling NaN (shown
      // quiet), is a QNAN whatever the sign.
      {from_bits(0xFFF8000000000001u), "-1.#QNAN00e+000", "-1.#QNANe+000"},
      {from_bits(0xFFFC000000000000u), "-1.#QNAN00e+000", "-1.#QNANe+000"},
      {from_bits(0xFFFFFFFFFFFFFFFFu), "-1.#QNAN00e+000", "-1.#QNANe+000"},
      {from_bits(0x7FF0000000000001u), "1.#QNAN00e+000", "1.#QNANe+000"},
      {from_bits(0xFFF0000000000001u), "-1.#QNAN00e+000", "-1.#QNANe+000"},
      {from_bits(0x7FF4000000000000u), "1.#QNAN00e+000", "1.#QNANe+000"},
      {from_bits(0x7FF8000000000001u), "1.#QNAN00e+000", "1.#QNANe+000"},
      {from_bits(0x7FFFFFFFFFFFFFFFu), "1.#QNAN00e+000", "1.#QNANe+000"},
      {from_bits(0x7FF800000000BEEFu), "1.#QNAN00e+000", "1.#QNANe+000"},
  };
  for (const Expected& marker : markers) expect_both_functions(marker);
}

TEST(NumberForm, IndefiniteIsWhatInvalidArithmeticGivesHere) {
  // The marker is chosen by bit pattern; make sure 0/0 on this machine
  // really is the pattern the old runtime called indefinite.
  volatile double zero = 0.0;
  const double invalid = zero / zero;
  EXPECT_EQ(fast(invalid, TIME_DIGITS), "-1.#IND000e+000");
  EXPECT_EQ(exact(invalid, VALUE_DIGITS), "-1.#IND0e+000");
}

TEST(NumberForm, CarriesThroughNinesIntoTheExponent) {
  const Expected carries[] = {
      // The nearest double to 9.99999995 lies below it (17 digits
      // 9.9999999499999994); the next one up carries.
      {from_text("9.99999995"), "9.9999999e+000", "1.00000e+001"},
      {next_up(from_text("9.99999995")), "1.0000000e+001", "1.00000e+001"},
      {9.999995, "9.9999950e+000", "1.00000e+001"},
      {next_down(9.999995), "9.9999950e+000", "9.99999e+000"},
      {99999.95, "9.9999950e+004", "9.99999e+004"},
      {next_up(99999.95), "9.9999950e+004", "1.00000e+005"},
      {99999.995, "9.9999995e+004", "1.00000e+005"},
      {0.9999995, "9.9999950e-001", "1.00000e+000"},
      {0.99999995, "9.9999995e-001", "1.00000e+000"},
      {99999999.5, "1.0000000e+008", "1.00000e+008"},
      {-99999999.5, "-1.0000000e+008", "-1.00000e+008"},
      {999999.5, "9.9999950e+005", "1.00000e+006"},
      {1e23, "1.0000000e+023", "1.00000e+023"},
      {from_text("9.9999999999999995e-308"), "1.0000000e-307", "1.00000e-307"},
  };
  for (const Expected& carry : carries) expect_both_functions(carry);
}

TEST(NumberForm, RoundsHalfUpOnTheSeventeenDigitForm) {
  const Expected ties[] = {
      // Exact ties in the second rounding go away from zero, not to even.
      {2345665.0, "2.3456650e+006", "2.34567e+006"},
      {-2345665.0, "-2.3456650e+006", "-2.34567e+006"},
      {234566665.0, "2.3456667e+008", "2.34567e+008"},
      {-234566665.0, "-2.3456667e+008", "-2.34567e+008"},
      {0.125, "1.2500000e-001", "1.25000e-001"},
      // Just below a half-way point, yet the 17-digit form is the half.
      {1.200005, "1.2000050e+000", "1.20001e+000"},
      {1.00000015, "1.0000002e+000", "1.00000e+000"},
      {-1.00000015, "-1.0000002e+000", "-1.00000e+000"},
      // One step further down, the 17-digit form falls below the half.
      {next_down(1.200005), "1.2000050e+000", "1.20000e+000"},
      {next_down(1.00000015), "1.0000001e+000", "1.00000e+000"},
      {1.00000005, "1.0000000e+000", "1.00000e+000"},
      {next_up(1.00000005), "1.0000001e+000", "1.00000e+000"},
  };
  for (const Expected& tie : ties) expect_both_functions(tie);
}

TEST(NumberForm, ShowsSmallLargeAndSubnormalMagnitudes) {
  const Expected magnitudes[] = {
      {1e-5, "1.0000000e-005", "1.00000e-005"},
      {0.0001, "1.0000000e-004", "1.00000e-004"},
      {0.3, "3.0000000e-001", "3.00000e-001"},
      {1e22, "1.0000000e+022", "1.00000e+022"},
      {-1e-300, "-1.0000000e-300", "-1.00000e-300"},
      {std::numeric_limits<double>::min(), "2.2250739e-308", "2.22507e-308"},
      {1.5e-310, "1.5000000e-310", "1.50000e-310"},
      {-from_bits(1), "-4.9406565e-324", "-4.94066e-324"},
      {-std::numeric_limits<double>::max(), "-1.7976931e+308", "-1.79769e+308"},
  };
  for (const Expected& magnitude : magnitudes) expect_both_functions(magnitude);
}

TEST(NumberForm, KeepsEveryDigitAskedFor) {
  EXPECT_EQ(exact(0.3, 17), "2.9999999999999999e-001");
  EXPECT_EQ(fast(0.3, 17), "2.9999999999999999e-001");
  EXPECT_EQ(fast(-from_bits(1), 17), "-4.9406564584124654e-324");
  EXPECT_EQ(fast(2.0 / 3.0, 1), "7.e-001");
  EXPECT_EQ(exact(9.6, 1), "1.e+001");
  EXPECT_EQ(fast(0.0, 17), "0.0000000000000000e+000");
  EXPECT_EQ(fast(-std::numeric_limits<double>::infinity(), 17), "-1.#INF000000000000e+000");
  EXPECT_EQ(exact(from_bits(0x7FF8000000000000u), 3), "1.#QNANe+000");
  // The longest text there can be still fits.
  EXPECT_EQ(fast(-std::numeric_limits<double>::denorm_min(), 17).size(), 24u);
}

TEST(NumberForm, AcceptsEitherNeighbourOnAnExactSeventeenDigitTie) {
  // 1000000000000000.25 has exactly 18 significant digits ending in 5.
  const double tie = 1000000000000000.25;
  const std::string shown = exact(tie, 17);
  EXPECT_TRUE(shown == "1.0000000000000002e+015" || shown == "1.0000000000000003e+015") << shown;
  EXPECT_EQ(fast(tie, 17), shown);
  EXPECT_EQ(fast(tie, TIME_DIGITS), "1.0000000e+015");
}

TEST(NumberForm, DoesNotWritePastWhatItReturns) {
  const double values[] = {
      0.0, -1.0 / 3.0, std::nan(""), -std::numeric_limits<double>::infinity(), from_bits(1), 1e300};
  for (double value : values) {
    for (int digits = 1; digits <= 17; ++digits) {
      char buffer[NUMBER_FORM_MAX + 8];
      std::memset(buffer, '~', sizeof buffer);
      const int length = format_exponent(value, digits, buffer);
      for (int i = length; i < static_cast<int>(sizeof buffer); ++i) ASSERT_EQ(buffer[i], '~');
      std::memset(buffer, '~', sizeof buffer);
      const int exact_length = format_exponent_exact(value, digits, buffer);
      for (int i = exact_length; i < static_cast<int>(sizeof buffer); ++i)
        ASSERT_EQ(buffer[i], '~');
    }
  }
}

// ---------------------------------------------------------------------------
// An independent reference: the exact decimal expansion of the double by
// schoolbook big-integer arithmetic, then both roundings on the digit text.

// Non-negative integer in base 10^9, least significant limb first.
using BigDecimal = std::vector<std::uint32_t>;
constexpr std::uint32_t LIMB_BASE = 1000000000u;

void multiply_by(BigDecimal& number, std::uint64_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : number) {
    const std::uint64_t product = limb * factor + carry;
    limb = static_cast<std::uint32_t>(product % LIMB_BASE);
    carry = product / LIMB_BASE;
  }
  while (carry != 0) {
    number.push_back(static_cast<std::uint32_t>(carry % LIMB_BASE));
    carry /= LIMB_BASE;
  }
}

std::string decimal_text(const BigDecimal& number) {
  std::string text = std::to_string(number.back());
  for (std::size_t i = number.size() - 1; i-- > 0;) {
    const std::string limb = std::to_string(number[i]);
    text += std::string(9 - limb.size(), '0') + limb;
  }
  return text;
}

// Adds one to the last digit of `digits`; returns true on a carry out.
bool increment_digits(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  digits.pop_back();
  return true;
}

struct ReferenceForm {
  std::string text;
  // Set when the exact value is a 17-digit tie; then rounding the tie down
  // is acceptable too, and this is that form.
  std::string tie_alternative;
};

std::string laid_out(bool negative, const std::string& digits, int exponent) {
  char exponent_text[16];
  std::snprintf(exponent_text, sizeof exponent_text, "e%c%03d", exponent < 0 ? '-' : '+',
                std::abs(exponent));
  return (negative ? "-" : "") + digits.substr(0, 1) + "." + digits.substr(1) + exponent_text;
}

std::string second_rounding(bool negative, std::string seventeen, int exponent, int digits) {
  std::string kept = seventeen.substr(0, static_cast<std::size_t>(digits));
  if (digits < 17 && seventeen[static_cast<std::size_t>(digits)] >= '5') {
    if (increment_digits(kept)) ++exponent;
  }
  return laid_out(negative, kept, exponent);
}

// Finite, non-zero values only.
ReferenceForm reference_form(double value, int digits) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t significand = bits & 0xFFFFFFFFFFFFFu;
  int binary_exponent = -1074;
  if (biased != 0) {
    significand |= std::uint64_t{1} << 52;
    binary_exponent = biased - 1075;
  }
  // value = significand * 2^binary_exponent = integer * 10^decimal_shift.
  BigDecimal integer = {static_cast<std::uint32_t>(significand % LIMB_BASE),
                        static_cast<std::uint32_t>(significand / LIMB_BASE % LIMB_BASE),
                        static_cast<std::uint32_t>(significand / LIMB_BASE / LIMB_BASE)};
  while (integer.size() > 1 && integer.back() == 0) integer.pop_back();
  int decimal_shift = 0;
  for (int remaining = binary_exponent; remaining > 0; remaining -= std::min(remaining, 30)) {
    multiply_by(integer, std::uint64_t{1} << std::min(remaining, 30));
  }
  // 2^-k = 5^k * 10^-k.
  for (int remaining = -binary_exponent; remaining > 0; remaining -= std::min(remaining, 13)) {
    std::uint64_t power_of_five = 1;
    for (int i = 0; i < std::min(remaining, 13); ++i) power_of_five *= 5;
    multiply_by(integer, power_of_five);
    decimal_shift -= std::min(remaining, 13);
  }
  std::string all_digits = decimal_text(integer);
  int exponent = static_cast<int>(all_digits.size()) - 1 + decimal_shift;

  ReferenceForm form;
  if (all_digits.size() <= 17) {
    all_digits.append(17 - all_digits.size(), '0');
    form.text = second_rounding(negative, all_digits, exponent, digits);
    return form;
  }
  std::string seventeen = all_digits.substr(0, 17);
  const std::string rest = all_digits.substr(17);
  const bool exact_tie = rest[0] == '5' && rest.find_first_not_of('0', 1) == std::string::npos;
  if (exact_tie) form.tie_alternative = second_rounding(negative, seventeen, exponent, digits);
  if (rest[0] >= '5' && increment_digits(seventeen)) ++exponent;
  form.text = second_rounding(negative, seventeen, exponent, digits);
  return form;
}

TEST(NumberFormReference, AgreesWithTheDocumentedExamples) {
  EXPECT_EQ(reference_form(1.200005, 6).text, "1.20001e+000");
  EXPECT_EQ(reference_form(1.00000015, 8).text, "1.0000002e+000");
  EXPECT_EQ(reference_form(from_bits(1), 8).text, "4.9406565e-324");
  EXPECT_EQ(reference_form(-std::numeric_limits<double>::max(), 6).text, "-1.79769e+308");
  EXPECT_EQ(reference_form(1000000000000000.25, 17).text, "1.0000000000000003e+015");
  EXPECT_EQ(reference_form(1000000000000000.25, 17).tie_alternative, "1.0000000000000002e+015");
}

void expect_exact_matches_reference(double value, int digits, int& failures) {
  const ReferenceForm reference = reference_form(value, digits);
  const std::string shown = exact(value, digits);
  if (shown == reference.text ||
      (!reference.tie_alternative.empty() && shown == reference.tie_alternative))
    return;
  ADD_FAILURE() << hex_bits(value) << " with " << digits << " digits: shown " << shown
                << ", reference " << reference.text;
  ++failures;
}

TEST(NumberFormReference, ExactMatchesBigIntegerExpansionOnRandomDoubles) {
  std::mt19937_64 random(20240611);
  int failures = 0;
  for (int i = 0; i < 60000 && failures < 10; ++i) {
    const double value = from_bits(random());
    if (!std::isfinite(value) || value == 0) continue;
    expect_exact_matches_reference(value, TIME_DIGITS, failures);
    expect_exact_matches_reference(value, VALUE_DIGITS, failures);
    expect_exact_matches_reference(value, static_cast<int>(1 + random() % 17), failures);
  }
  // Subnormals, with their exact and long expansions.
  for (int i = 0; i < 2000 && failures < 10; ++i) {
    const double value = from_bits(random() & 0x800FFFFFFFFFFFFFu);
    if (value == 0) continue;
    expect_exact_matches_reference(value, TIME_DIGITS, failures);
    expect_exact_matches_reference(value, VALUE_DIGITS, failures);
  }
}

// Decimal strings sitting on a half-way point of either rounding; the
// double nearest each and its neighbours are the hardest inputs there are.
std::vector<double> values_near_half_way_points(std::mt19937_64& random, int count) {
  std::vector<double> values;
  const char* const tails[] = {"5", "49999999999", "50000000001", "4999999999999999",
                               "5000000000000001"};
  for (int i = 0; i < count; ++i) {
    std::string digits;
    const int kept = (i % 3 == 0) ? TIME_DIGITS : (i % 3 == 1) ? VALUE_DIGITS : 17;
    for (int d = 0; d < kept; ++d) digits += static_cast<char>('0' + random() % 10);
    if (digits[0] == '0') digits[0] = '1' + static_cast<char>(random() % 9);
    // Nines make the rounding carry all the way.
    if (random() % 4 == 0) digits.replace(1, std::string::npos, std::string(kept - 1, '9'));
    digits += tails[random() % (kept == 17 ? 1 : 5)];
    const int exponent = (random() % 4 == 0) ? static_cast<int>(random() % 630) - 322
                                             : static_cast<int>(random() % 40) - 20;
    const std::string text =
        digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(exponent);
    const double value = from_text(text.c_str());
    values.push_back(value);
    values.push_back(next_up(value));
    values.push_back(next_down(value));
    values.push_back(-next_up(next_up(value)));
  }
  return values;
}

TEST(NumberFormReference, ExactMatchesBigIntegerExpansionNearHalfWayPoints) {
  std::mt19937_64 random(77);
  int failures = 0;
  for (double value : values_near_half_way_points(random, 5000)) {
    if (!std::isfinite(value) || value == 0) continue;
    expect_exact_matches_reference(value, TIME_DIGITS, failures);
    expect_exact_matches_reference(value, VALUE_DIGITS, failures);
    expect_exact_matches_reference(value, 17, failures);
    if (failures >= 10) break;
  }
}

// ---------------------------------------------------------------------------
// The fast path against the exact one.

void expect_fast_matches_exact(double value, int digits, int& failures) {
  char fast_text[NUMBER_FORM_MAX];
  char exact_text[NUMBER_FORM_MAX];
  const int fast_length = format_exponent(value, digits, fast_text);
  const int exact_length = format_exponent_exact(value, digits, exact_text);
  if (fast_length == exact_length && std::memcmp(fast_text, exact_text, fast_length) == 0) return;
  ADD_FAILURE() << hex_bits(value) << " with " << digits << " digits: fast "
                << std::string(fast_text, fast_length) << ", exact "
                << std::string(exact_text, exact_length);
  ++failures;
}

void expect_fast_matches_exact_for_all(const std::vector<double>& values, int& failures) {
  for (double value : values) {
    expect_fast_matches_exact(value, TIME_DIGITS, failures);
    expect_fast_matches_exact(value, VALUE_DIGITS, failures);
    if (failures >= 10) return;
  }
}

TEST(NumberFormFast, MatchesExactOnRandomBitPatterns) {
  std::mt19937_64 random(1);
  int failures = 0;
  for (int i = 0; i < 2000000 && failures < 10; ++i) {
    const double value = from_bits(random());
    expect_fast_matches_exact(value, TIME_DIGITS, failures);
    expect_fast_matches_exact(value, VALUE_DIGITS, failures);
    if (i % 8 == 0) expect_fast_matches_exact(value, static_cast<int>(1 + random() % 17), failures);
  }
  for (int i = 0; i < 100000 && failures < 10; ++i) {
    const double subnormal = from_bits(random() & 0x800FFFFFFFFFFFFFu);
    expect_fast_matches_exact(subnormal, TIME_DIGITS, failures);
    expect_fast_matches_exact(subnormal, VALUE_DIGITS, failures);
  }
}

TEST(NumberFormFast, MatchesExactOnSignalLikeValues) {
  std::vector<double> values;
  for (int k = -200000; k <= 200000; ++k) {
    values.push_back(k / 3.0);
    values.push_back(k / 7.0);
    values.push_back(k * 0.001);
  }
  // Sample times: multiples of a step, and the same built by summing.
  double summed_time = 0;
  for (int i = 0; i < 300000; ++i) {
    values.push_back(i * 1e-3);
    values.push_back(i * 2.5e-4);
    values.push_back(summed_time);
    summed_time += 1e-4;
  }
  std::mt19937_64 random(2);
  std::uniform_real_distribution<double> amplitude(-1000.0, 1000.0);
  for (int i = 0; i < 300000; ++i)
    values.push_back(amplitude(random) * std::pow(10.0, static_cast<int>(random() % 20) - 10));
  int failures = 0;
  expect_fast_matches_exact_for_all(values, failures);
}

TEST(NumberFormFast, MatchesExactNearHalfWayPointsAndCarries) {
  std::mt19937_64 random(3);
  int failures = 0;
  const std::vector<double> values = values_near_half_way_points(random, 400000);
  expect_fast_matches_exact_for_all(values, failures);
  for (std::size_t i = 0; i < values.size() && failures < 10; i += 3) {
    expect_fast_matches_exact(values[i], 17, failures);
  }
}

TEST(NumberFormFast, MatchesExactAroundEveryPowerOfTen) {
  // Where the decimal exponent changes, and the estimate of it may be one short.
  std::vector<double> values;
  for (int exponent = -324; exponent <= 308; ++exponent) {
    const std::string text = "1e" + std::to_string(exponent);
    double value = from_text(text.c_str());
    for (int step = 0; step < 40; ++step) value = next_down(value);
    for (int step = 0; step < 80; ++step, value = next_up(value)) {
      values.push_back(value);
      values.push_back(-value);
    }
    for (const char* prefix :
         {"9.9999999", "9.99999", "9.9999999999999999", "9.99999995", "9.999995"}) {
      const std::string near_text = prefix + std::string("e") + std::to_string(exponent);
      const double near = from_text(near_text.c_str());
      values.push_back(near);
      values.push_back(next_up(near));
      values.push_back(next_down(near));
    }
  }
  // Powers of two, where the binary exponent changes.
  for (int exponent = -1074; exponent <= 1023; ++exponent) {
    const double power = std::ldexp(1.0, exponent);
    values.push_back(power);
    values.push_back(next_down(power));
    values.push_back(next_up(power));
  }
  int failures = 0;
  expect_fast_matches_exact_for_all(values, failures);
  for (double value : values) {
    expect_fast_matches_exact(value, 17, failures);
    if (failures >= 10) break;
  }
}

}  // namespace
