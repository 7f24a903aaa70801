#include "number_form.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

using uint128 = unsigned __int128;

// 10^q = (high * 2^64 + low) * 2^binary_exponent, correctly rounded to 128
// bits with the top bit set.
struct PowerOfTen {
  std::uint64_t high;
  std::uint64_t low;
  int binary_exponent;
};

#include "powers_of_ten.inc"

constexpr std::uint64_t SIGN_BIT = 0x8000000000000000u;
constexpr std::uint64_t FRACTION_MASK = 0x000FFFFFFFFFFFFFu;
constexpr int EXPONENT_ALL_ONES = 0x7FF;
// The one not-a-number that invalid arithmetic yields on x86; the old
// runtime calls it "indefinite" and prints it apart from the others.
constexpr std::uint64_t INDEFINITE_NAN_BITS = 0xFFF8000000000000u;

constexpr std::uint64_t POWERS_OF_TEN[18] = {
    1u,
    10u,
    100u,
    1000u,
    10000u,
    100000u,
    1000000u,
    10000000u,
    100000000u,
    1000000000u,
    10000000000u,
    100000000000u,
    1000000000000u,
    10000000000000u,
    100000000000000u,
    1000000000000000u,
    10000000000000000u,
    100000000000000000u,
};
constexpr std::uint64_t SMALLEST_17_DIGITS = POWERS_OF_TEN[16];
constexpr std::uint64_t SMALLEST_18_DIGITS = POWERS_OF_TEN[17];

constexpr char DIGIT_PAIRS[201] =
    "00010203040506070809"
    "10111213141516171819"
    "20212223242526272829"
    "30313233343536373839"
    "40414243444546474849"
    "50515253545556575859"
    "60616263646566676869"
    "70717273747576777879"
    "80818283848586878889"
    "90919293949596979899";

// floor(log10(2^binary_point)); exact for |binary_point| <= 1650, far more
// than a double needs (checked below against the table's own exponents).
constexpr int decimal_exponent_estimate(int binary_point) { return (binary_point * 78913) >> 18; }

// Every double, subnormals normalised, has its leading bit at 2^-1074 ..
// 2^1023; the table must hold 10^(16 - estimate) for all of them.
static_assert(16 - decimal_exponent_estimate(1023) >= POWER_TABLE_FIRST);
static_assert(16 - decimal_exponent_estimate(-1074) <= POWER_TABLE_LAST);

// The fast path reads the integer part of the scaled value from the top 128
// bits of a 192-bit product, shifted right by 58 to 64. Prove that holds for
// every binary exponent a double can have, with no run-time check.
constexpr bool integer_part_shift_in_range() {
  for (int binary_point = -1074; binary_point <= 1023; ++binary_point) {
    const int power = 16 - decimal_exponent_estimate(binary_point);
    const int scale_exponent = POWER_TABLE[power - POWER_TABLE_FIRST].binary_exponent;
    const int shift = -(binary_point - 52 + scale_exponent) - 64;
    if (shift < 58 || shift > 64) return false;
  }
  return true;
}
static_assert(integer_part_shift_in_range());

// Writes "e", the sign and three digits of `exponent` (|exponent| < 1000).
char* write_exponent(int exponent, char* out) {
  out[0] = 'e';
  out[1] = exponent < 0 ? '-' : '+';
  out += 2;
  if (exponent < 0) exponent = -exponent;
  *out++ = static_cast<char>('0' + exponent / 100);
  std::memcpy(out, DIGIT_PAIRS + 2 * (exponent % 100), 2);
  return out + 2;
}

// Infinities and not-a-numbers: the marker stands where the digits would,
// its first character before the point, filled out with zeros to the digit
// count (a longer marker is never cut).
int write_non_finite(std::uint64_t bits, int significant_digits, char* out) {
  char* cursor = out;
  if (bits & SIGN_BIT) *cursor++ = '-';
  const char* marker;
  if ((bits & FRACTION_MASK) == 0) {
    marker = "1#INF";
  } else if (bits == INDEFINITE_NAN_BITS) {
    marker = "1#IND";
  } else {
    marker = "1#QNAN";
  }
  const int marker_length = static_cast<int>(std::strlen(marker));
  *cursor++ = marker[0];
  *cursor++ = '.';
  std::memcpy(cursor, marker + 1, marker_length - 1);
  cursor += marker_length - 1;
  for (int filled = marker_length; filled < significant_digits; ++filled) *cursor++ = '0';
  cursor = write_exponent(0, cursor);
  return static_cast<int>(cursor - out);
}

// Zero of either sign prints unsigned.
int write_zero(int significant_digits, char* out) {
  char* cursor = out;
  *cursor++ = '0';
  *cursor++ = '.';
  std::memset(cursor, '0', significant_digits - 1);
  cursor += significant_digits - 1;
  cursor = write_exponent(0, cursor);
  return static_cast<int>(cursor - out);
}

// Layout of the digits `kept` (exactly `significant_digits` of them) with
// decimal exponent `exponent`. Inlined with a constant digit count so the
// divisions become multiplications.
[[gnu::always_inline]] inline int write_digits(bool negative, std::uint64_t kept, int exponent,
                                               int significant_digits, char* out) {
  char* cursor = out;
  *cursor = '-';
  cursor += negative;
  char* const end = cursor + 1 + significant_digits;
  if (significant_digits == TIME_DIGITS || significant_digits == VALUE_DIGITS) {
    // Split once into a high part and the last four digits, so that the
    // pairs below come from two short chains of divisions, not one long one.
    const std::uint64_t high = kept / 10000;
    const std::uint64_t low = kept - high * 10000;
    const std::uint64_t low_pair = low / 100;
    std::uint64_t leading_pair = high;
    if (significant_digits == TIME_DIGITS) {
      leading_pair = high / 100;
      std::memcpy(cursor + 3, DIGIT_PAIRS + 2 * (high - leading_pair * 100), 2);
    }
    cursor[0] = DIGIT_PAIRS[2 * leading_pair];
    cursor[1] = '.';
    cursor[2] = DIGIT_PAIRS[2 * leading_pair + 1];
    std::memcpy(end - 4, DIGIT_PAIRS + 2 * low_pair, 2);
    std::memcpy(end - 2, DIGIT_PAIRS + 2 * (low - low_pair * 100), 2);
  } else {
    const std::uint64_t fraction_scale = POWERS_OF_TEN[significant_digits - 1];
    const std::uint64_t leading = kept / fraction_scale;
    std::uint64_t rest = kept - leading * fraction_scale;
    cursor[0] = static_cast<char>('0' + leading);
    cursor[1] = '.';
    // The digits after the point, right to left, two at a time.
    char* digit_end = end;
    int remaining = significant_digits - 1;
    while (remaining >= 2) {
      digit_end -= 2;
      std::memcpy(digit_end, DIGIT_PAIRS + 2 * (rest % 100), 2);
      rest /= 100;
      remaining -= 2;
    }
    if (remaining == 1) digit_end[-1] = static_cast<char>('0' + rest);
  }
  cursor = write_exponent(exponent, end);
  return static_cast<int>(cursor - out);
}

// Second rounding and layout, from the 17-digit integer `seventeen`
// (10^16 <= seventeen < 10^17) with decimal exponent `exponent`.
[[gnu::always_inline]] inline int write_rounded(bool negative, std::uint64_t seventeen,
                                                int exponent, int significant_digits, char* out) {
  std::uint64_t kept = seventeen;
  if (significant_digits < 17) {
    const std::uint64_t divisor = POWERS_OF_TEN[17 - significant_digits];
    kept = seventeen / divisor;
    // Half up on the first dropped digit, as on the text. Without a
    // branch: which way it goes is a coin toss for measured data.
    kept += seventeen - kept * divisor >= divisor / 2;
    if (kept == POWERS_OF_TEN[significant_digits]) {
      kept = POWERS_OF_TEN[significant_digits - 1];
      ++exponent;
    }
  }
  return write_digits(negative, kept, exponent, significant_digits, out);
}

// Binary exponents of everyday magnitudes, for which the powers of ten the
// short path multiplies by are normal doubles (see DOUBLE_POWER_TABLE).
constexpr int EVERYDAY_BINARY_POINT_LIMIT = 960;
static_assert(TIME_DIGITS - 1 + 1 - decimal_exponent_estimate(-EVERYDAY_BINARY_POINT_LIMIT) <=
              DOUBLE_POWER_TABLE_LAST);
static_assert(VALUE_DIGITS - 1 - 1 - decimal_exponent_estimate(EVERYDAY_BINARY_POINT_LIMIT) >=
              DOUBLE_POWER_TABLE_FIRST);

// The short path for the two digit counts the tool writes: one double
// multiplication scales the magnitude to y = |value| * 10^(DIGITS - 1 - E),
// whose integer part holds the digits shown. The power and the product are
// each rounded once, so y is within 2^-52 of its size of the true product;
// adding 1/2 rounds once more. Wherever y + 1/2 lies further than MARGIN from
// an integer, no error, nor the first rounding to 17 digits (half a unit of
// the 17th digit), can carry it across, and rounding y half up gives what
// the two roundings give. Elsewhere it returns 0 and the wide path decides.
template <int DIGITS>
int format_everyday(double magnitude, bool negative, int estimate, char* out) {
  constexpr std::uint64_t LIMIT = POWERS_OF_TEN[DIGITS];
  constexpr double MARGIN = static_cast<double>(LIMIT) * 0x1p-50;
  // The decimal exponent is the estimate or one more. Where y reaches
  // 10^DIGITS with the estimate, the next one decides, carry included.
  for (int exponent = estimate; exponent <= estimate + 1; ++exponent) {
    const double scaled =
        magnitude * DOUBLE_POWER_TABLE[DIGITS - 1 - exponent - DOUBLE_POWER_TABLE_FIRST];
    const double shifted = scaled + 0.5;
    const std::uint64_t kept = static_cast<std::uint64_t>(shifted);
    const double distance = shifted - static_cast<double>(kept);  // exact
    if (distance < MARGIN || distance > 1.0 - MARGIN) return 0;
    if (kept < LIMIT) return write_digits(negative, kept, exponent, DIGITS, out);
    if (exponent == estimate + 1 && kept == LIMIT)
      return write_digits(negative, LIMIT / 10, exponent + 1, DIGITS, out);
  }
  return 0;
}

}  // namespace

int format_exponent_exact(double value, int significant_digits, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if (!std::isfinite(value)) return write_non_finite(bits, significant_digits, out);
  if (value == 0) return write_zero(significant_digits, out);

  // First rounding: "d.dddddddddddddddde+XX", exact.
  char text[40];
  const std::to_chars_result converted =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific, 16);
  char digits[17];
  digits[0] = text[0];
  std::memcpy(digits + 1, text + 2, 16);
  int exponent = 0;
  for (const char* c = text + 20; c < converted.ptr; ++c) exponent = exponent * 10 + (*c - '0');
  if (text[19] == '-') exponent = -exponent;

  // Second rounding, on the digit text: half up, carrying through nines.
  if (significant_digits < 17 && digits[significant_digits] >= '5') {
    int position = significant_digits - 1;
    while (position >= 0 && digits[position] == '9') digits[position--] = '0';
    if (position < 0) {
      digits[0] = '1';
      ++exponent;
    } else {
      ++digits[position];
    }
  }

  char* cursor = out;
  if (value < 0) *cursor++ = '-';
  *cursor++ = digits[0];
  *cursor++ = '.';
  std::memcpy(cursor, digits + 1, significant_digits - 1);
  cursor += significant_digits - 1;
  cursor = write_exponent(exponent, cursor);
  return static_cast<int>(cursor - out);
}

int format_exponent(double value, int significant_digits, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int biased_exponent = static_cast<int>(bits >> 52) & EXPONENT_ALL_ONES;
  std::uint64_t significand = bits & FRACTION_MASK;
  if (biased_exponent == EXPONENT_ALL_ONES) return write_non_finite(bits, significant_digits, out);

  // |value| = significand * 2^(binary_point - 52), 2^52 <= significand < 2^53.
  int binary_point;
  if (biased_exponent != 0) {
    significand |= std::uint64_t{1} << 52;
    binary_point = biased_exponent - 1023;
  } else {
    if (significand == 0) return write_zero(significant_digits, out);
    const int shift = std::countl_zero(significand) - 11;
    significand <<= shift;
    binary_point = -1022 - shift;
  }

  const int estimate = decimal_exponent_estimate(binary_point);
  const bool negative = (bits & SIGN_BIT) != 0;
  if (binary_point >= -EVERYDAY_BINARY_POINT_LIMIT && binary_point <= EVERYDAY_BINARY_POINT_LIMIT) {
    int written = 0;
    if (significant_digits == TIME_DIGITS) {
      written = format_everyday<TIME_DIGITS>(std::fabs(value), negative, estimate, out);
    } else if (significant_digits == VALUE_DIGITS) {
      written = format_everyday<VALUE_DIGITS>(std::fabs(value), negative, estimate, out);
    }
    if (written > 0) return written;
  }

  // Scale to y = |value| * 10^(16 - estimate), 10^16 <= y < 2 * 10^17, as
  // a 192-bit fixed-point product. The table entry is within half a unit
  // of 10^q, so the product is within 2^52 units of the truth, while one
  // unit of the 64 fraction bits we keep is at least 2^58 units.
  const PowerOfTen& scale = POWER_TABLE[16 - estimate - POWER_TABLE_FIRST];
  const uint128 low_product = static_cast<uint128>(significand) * scale.low;
  const uint128 high_product = static_cast<uint128>(significand) * scale.high;
  const uint128 middle = (low_product >> 64) + static_cast<std::uint64_t>(high_product);
  const std::uint64_t word0 = static_cast<std::uint64_t>(low_product);
  const std::uint64_t word1 = static_cast<std::uint64_t>(middle);
  const std::uint64_t word2 =
      static_cast<std::uint64_t>(high_product >> 64) + static_cast<std::uint64_t>(middle >> 64);
  const int shift = -(binary_point - 52 + scale.binary_exponent) - 64;  // 58 .. 64
  const std::uint64_t integer_part =
      static_cast<std::uint64_t>(((static_cast<uint128>(word2) << 64) | word1) >> shift);
  const std::uint64_t fraction_part =
      static_cast<std::uint64_t>(((static_cast<uint128>(word1) << 64) | word0) >> shift);

  // First rounding, half up on the magnitude. The estimate of the decimal
  // exponent may be one short, leaving 18 integer digits; then y / 10 is
  // rounded, whose fraction is (last digit + fraction) / 10.
  // Where the computed value is within one unit of the half-way point the
  // error could tip it either way (or it is an exact tie); the exact
  // method decides those.
  constexpr std::uint64_t HALF = std::uint64_t{1} << 63;
  constexpr std::uint64_t ALL_ONES = ~std::uint64_t{0};
  const bool one_digit_too_many = integer_part >= SMALLEST_18_DIGITS;
  const std::uint64_t tenth = integer_part / 10;
  const std::uint64_t last_digit = integer_part - tenth * 10;
  std::uint64_t seventeen;
  bool undecided;
  if (one_digit_too_many) {
    seventeen = tenth + (last_digit >= 5);
    undecided =
        (last_digit == 4 && fraction_part == ALL_ONES) || (last_digit == 5 && fraction_part == 0);
  } else {
    seventeen = integer_part + (fraction_part >> 63);
    undecided = fraction_part - (HALF - 1) <= 1;
  }
  // The last two cannot happen while the estimate is right; they guard it.
  if (undecided || seventeen < SMALLEST_17_DIGITS || integer_part >= 10 * SMALLEST_18_DIGITS) {
    return format_exponent_exact(value, significant_digits, out);
  }
  int exponent = estimate + one_digit_too_many;
  if (seventeen == SMALLEST_18_DIGITS) {
    seventeen = SMALLEST_17_DIGITS;
    ++exponent;
  }

  switch (significant_digits) {
    case TIME_DIGITS:
      return write_rounded(negative, seventeen, exponent, TIME_DIGITS, out);
    case VALUE_DIGITS:
      return write_rounded(negative, seventeen, exponent, VALUE_DIGITS, out);
    default:
      return write_rounded(negative, seventeen, exponent, significant_digits, out);
  }
}
