#include "number_reader.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace {

// Decimal digits that always fit a uint64 exactly.
constexpr int MAX_EXACT_DIGITS = 19;

// Integers up to 2^53 are exact doubles, and so are the powers of ten up to
// 1e22; one IEEE multiply or divide of two exact operands rounds correctly.
constexpr std::uint64_t MAX_EXACT_SIGNIFICAND = std::uint64_t{1} << 53;
constexpr int MAX_EXACT_POWER_OF_TEN = 22;
constexpr double EXACT_POWERS_OF_TEN[MAX_EXACT_POWER_OF_TEN + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Any exponent this large already decides overflow or underflow, whatever the
// at most NUMBER_TEXT_BUDGET digits of the mantissa say; capping it keeps the
// arithmetic in int however many exponent digits the text has.
constexpr int EXPONENT_CAP = 1'000'000;

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

double with_sign(double magnitude, bool negative) { return negative ? -magnitude : magnitude; }

// The slow but exact path: rewrite the number as "<significant digits>e<exponent>"
// and let std::from_chars round it correctly. `mantissa` holds digits and at
// most one point, no sign; `exponent` scales the digits read as an integer.
double convert_exactly(const char* mantissa, const char* mantissa_end, int exponent,
                       bool negative) {
  char normalised[MAX_NUMBER_TEXT + 16];
  char* out = normalised;
  for (const char* p = mantissa; p != mantissa_end; ++p) {
    if (*p == '.' || (out == normalised && *p == '0')) continue;
    *out++ = *p;
  }
  const int significant_digits = static_cast<int>(out - normalised);
  *out++ = 'e';
  out = std::to_chars(out, normalised + sizeof normalised, exponent).ptr;

  double magnitude = 0.0;
  if (std::from_chars(normalised, out, magnitude).ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone when out of range; the position of the
    // leading digit tells whether it was too big or too small.
    const bool too_big = significant_digits + exponent - 1 > 0;
    magnitude = too_big ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return with_sign(magnitude, negative);
}

}  // namespace

NumberScan scan_number(const char* text, const char* end) {
  const char* p = text;
  if (p == end) return {ScanStatus::end_of_input, 0.0, p};

  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  // Compare distances rather than forming p + budget, which may lie past `end`.
  const char* const limit = end - p > NUMBER_TEXT_BUDGET ? p + NUMBER_TEXT_BUDGET : end;

  // Digits accumulate into `significand` without any check per digit; only
  // the count of significant digits afterwards tells whether it is exact. A
  // uint64 holds any 19 digits, and more than that goes the exact path anyway.
  const char* const mantissa = p;
  while (p < limit && *p == '0') ++p;
  const char* const significant = p;
  std::uint64_t significand = 0;
  for (; p < limit && is_digit(*p); ++p) significand = significand * 10 + (*p - '0');
  int significant_digits = static_cast<int>(p - significant);
  int mantissa_digits = static_cast<int>(p - mantissa);
  int fraction_digits = 0;
  if (p < limit && *p == '.') {
    const char* const fraction = ++p;
    // Zeros right after the point are not significant while nothing else was.
    if (significant_digits == 0) {
      while (p < limit && *p == '0') ++p;
    }
    const char* const fraction_significant = p;
    for (; p < limit && is_digit(*p); ++p) significand = significand * 10 + (*p - '0');
    significant_digits += static_cast<int>(p - fraction_significant);
    fraction_digits = static_cast<int>(p - fraction);
    mantissa_digits += fraction_digits;
  }
  const char* const mantissa_end = p;

  if (mantissa_digits == 0) {
    // A lone sign or point is consumed and lost. Only at the true end of the
    // input can `p` reach `end` here, since the budget is far from spent.
    return {p == end ? ScanStatus::end_of_input : ScanStatus::not_a_number, 0.0, p};
  }

  // An exponent letter after a digit is always taken, with its sign; without
  // digits after them they simply contribute nothing.
  int explicit_exponent = 0;
  if (p < limit && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool exponent_negative = p < limit && *p == '-';
    if (p < limit && (*p == '-' || *p == '+')) ++p;
    int exponent = 0;
    for (; p < limit && is_digit(*p); ++p) {
      if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (*p - '0');
    }
    explicit_exponent = exponent_negative ? -exponent : exponent;
  }

  if (significant_digits == 0) return {ScanStatus::number, with_sign(0.0, negative), p};

  const int exponent = explicit_exponent - fraction_digits;
  if (significant_digits <= MAX_EXACT_DIGITS && significand <= MAX_EXACT_SIGNIFICAND &&
      exponent >= -MAX_EXACT_POWER_OF_TEN && exponent <= MAX_EXACT_POWER_OF_TEN) {
    const double exact = static_cast<double>(significand);
    const double magnitude = exponent < 0 ? exact / EXACT_POWERS_OF_TEN[-exponent]
                                          : exact * EXACT_POWERS_OF_TEN[exponent];
    return {ScanStatus::number, with_sign(magnitude, negative), p};
  }
  return {ScanStatus::number, convert_exactly(mantissa, mantissa_end, exponent, negative), p};
}
