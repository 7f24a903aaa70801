// Takes every 8 input bytes as the bit pattern of a double, so infinities,
// every not-a-number payload and subnormals all occur, and checks:
// format_exponent equals format_exponent_exact for every digit count, and
// format_exponent_exact equals a slow method here that expands the double
// into its exact decimal digits with a small big integer and rounds twice
// on the text. Neither output may exceed NUMBER_FORM_MAX bytes. Besides the
// raw patterns, each 8 bytes also yield doubles next to a half-way point of
// the first rounding and one exactly on it, which raw patterns almost never
// hit and where a fast rounding is most likely to slip, and doubles next to
// a half-way point of the second rounding to 8 or 6 digits.

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "number_form.h"

namespace {

constexpr std::uint64_t SIGN_BIT = 0x8000000000000000u;
constexpr std::uint64_t FRACTION_MASK = 0x000FFFFFFFFFFFFFu;
constexpr std::uint64_t INDEFINITE_NAN_BITS = 0xFFF8000000000000u;
constexpr int FIRST_ROUNDING_DIGITS = 17;

// Written past the returned length means bytes written that were not
// reported; this fill shows it.
constexpr char UNTOUCHED = '\x7f';

// Unsigned integer in base 10^9, least significant limb first: enough to
// hold 2^1023 * 2^53 or 2^53 * 5^1074 exactly.
using BigDecimal = std::vector<std::uint32_t>;
constexpr std::uint32_t LIMB_BASE = 1000000000u;

void multiply(BigDecimal& number, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : number) {
    const std::uint64_t product = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(product % LIMB_BASE);
    carry = product / LIMB_BASE;
  }
  while (carry > 0) {
    number.push_back(static_cast<std::uint32_t>(carry % LIMB_BASE));
    carry /= LIMB_BASE;
  }
}

void multiply_by_power(BigDecimal& number, std::uint32_t base, int count, int chunk) {
  std::uint32_t chunk_factor = 1;
  for (int i = 0; i < chunk; ++i) chunk_factor *= base;
  for (; count >= chunk; count -= chunk) multiply(number, chunk_factor);
  for (; count > 0; --count) multiply(number, base);
}

std::string decimal_text(const BigDecimal& number) {
  std::string text = std::to_string(number.back());
  for (std::size_t i = number.size() - 1; i-- > 0;) {
    char limb_text[9];
    std::uint32_t limb = number[i];
    for (int d = 8; d >= 0; --d, limb /= 10) limb_text[d] = static_cast<char>('0' + limb % 10);
    text.append(limb_text, 9);
  }
  return text;
}

// The exact value of a finite nonzero double as significant digits (no
// leading or trailing zeros) and the decimal exponent of the first digit.
void exact_expansion(std::uint64_t bits, std::string& digits, int& exponent) {
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t significand = bits & FRACTION_MASK;
  int binary_exponent = -1074;
  if (biased != 0) {
    significand |= std::uint64_t{1} << 52;
    binary_exponent = biased - 1075;
  }
  BigDecimal number = {static_cast<std::uint32_t>(significand % LIMB_BASE),
                       static_cast<std::uint32_t>(significand / LIMB_BASE % LIMB_BASE)};
  if (significand / LIMB_BASE / LIMB_BASE > 0)
    number.push_back(static_cast<std::uint32_t>(significand / LIMB_BASE / LIMB_BASE));
  while (number.size() > 1 && number.back() == 0) number.pop_back();

  // m * 2^-n = m * 5^n * 10^-n: multiplying by 5s keeps it an integer.
  int power_of_ten = 0;
  if (binary_exponent >= 0) {
    multiply_by_power(number, 2, binary_exponent, 29);
  } else {
    multiply_by_power(number, 5, -binary_exponent, 12);
    power_of_ten = binary_exponent;
  }
  digits = decimal_text(number);
  while (digits.back() == '0') {
    digits.pop_back();
    ++power_of_ten;
  }
  exponent = power_of_ten + static_cast<int>(digits.size()) - 1;
}

// Adds one to the last digit, carrying through nines; returns true when
// the digits overflowed into a new leading 1 (the text keeps its length).
bool increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits[0] = '1';
  return true;
}

std::string exponent_text(int exponent) {
  char text[8];
  std::snprintf(text, sizeof text, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return text;
}

std::string layout(bool negative, const std::string& digits, int exponent) {
  std::string text = negative ? "-" : "";
  text += digits[0];
  text += '.';
  text += digits.substr(1);
  return text + exponent_text(exponent);
}

std::string non_finite_text(std::uint64_t bits, int digit_count) {
  const char* marker = (bits & FRACTION_MASK) == 0        ? "1#INF"
                       : bits == INDEFINITE_NAN_BITS ? "1#IND"
                                                        : "1#QNAN";
  std::string filled = marker;
  while (static_cast<int>(filled.size()) < digit_count) filled += '0';
  return layout((bits & SIGN_BIT) != 0, filled, 0);
}

// A 17-digit decimal and the exponent of its first digit.
struct SeventeenDigits {
  std::string digits;
  int exponent;
};

// The first rounding of a finite nonzero double, done on its exact digits:
// one result, or both neighbours where the exact value is a tie.
std::vector<SeventeenDigits> first_rounding(std::uint64_t bits) {
  std::string digits;
  int exponent;
  exact_expansion(bits, digits, exponent);
  if (digits.size() <= FIRST_ROUNDING_DIGITS)
    return {{digits + std::string(FIRST_ROUNDING_DIGITS - digits.size(), '0'), exponent}};
  const std::string kept = digits.substr(0, FIRST_ROUNDING_DIGITS);
  std::string rounded_up = kept;
  const int up_exponent = exponent + increment(rounded_up);
  const bool exact_tie = digits.size() == FIRST_ROUNDING_DIGITS + 1 && digits.back() == '5';
  if (exact_tie) return {{kept, exponent}, {rounded_up, up_exponent}};
  if (digits[FIRST_ROUNDING_DIGITS] >= '5') return {{rounded_up, up_exponent}};
  return {{kept, exponent}};
}

// Every text the slow method accepts for `bits` with `digit_count` digits,
// given the first rounding of a finite nonzero value.
std::vector<std::string> expected_texts(std::uint64_t bits,
                                        const std::vector<SeventeenDigits>& seventeen,
                                        int digit_count) {
  if (((bits >> 52) & 0x7FF) == 0x7FF) return {non_finite_text(bits, digit_count)};
  if ((bits & ~SIGN_BIT) == 0) return {layout(false, std::string(digit_count, '0'), 0)};
  std::vector<std::string> texts;
  for (const SeventeenDigits& candidate : seventeen) {
    std::string shown = candidate.digits.substr(0, digit_count);
    int shown_exponent = candidate.exponent;
    if (digit_count < FIRST_ROUNDING_DIGITS && candidate.digits[digit_count] >= '5')
      shown_exponent += increment(shown);
    texts.push_back(layout((bits & SIGN_BIT) != 0, shown, shown_exponent));
  }
  return texts;
}

using Formatter = int (*)(double, int, char*);

// Runs one formatter into a buffer of exactly NUMBER_FORM_MAX bytes on the
// heap, so AddressSanitizer sees any byte written beyond it.
std::string run_formatter(Formatter formatter, const char* name, double value,
                          std::uint64_t bits, int digit_count) {
  static char* const out = static_cast<char*>(std::malloc(NUMBER_FORM_MAX));
  std::memset(out, UNTOUCHED, NUMBER_FORM_MAX);
  const int length = formatter(value, digit_count, out);
  if (length <= 0 || length > NUMBER_FORM_MAX) {
    std::fprintf(stderr, "%s(bits %016llx, %d digits) returned length %d\n", name,
                 static_cast<unsigned long long>(bits), digit_count, length);
    std::abort();
  }
  for (int i = length; i < NUMBER_FORM_MAX; ++i) {
    if (out[i] != UNTOUCHED) {
      std::fprintf(stderr, "%s(bits %016llx, %d digits) wrote byte %d past its length %d\n",
                   name, static_cast<unsigned long long>(bits), digit_count, i, length);
      std::abort();
    }
  }
  return std::string(out, static_cast<std::size_t>(length));
}

constexpr int EVERY_DIGIT_COUNT[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
// The digit counts the tool writes: enough for the values derived below.
constexpr int TOOL_DIGIT_COUNTS[] = {TIME_DIGITS, VALUE_DIGITS};

template <std::size_t COUNTS>
void check_value(std::uint64_t bits, const int (&digit_counts)[COUNTS]) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  const bool finite_nonzero = std::isfinite(value) && value != 0;
  const std::vector<SeventeenDigits> seventeen =
      finite_nonzero ? first_rounding(bits) : std::vector<SeventeenDigits>{};
  for (const int digit_count : digit_counts) {
    const std::string fast =
        run_formatter(format_exponent, "format_exponent", value, bits, digit_count);
    const std::string exact =
        run_formatter(format_exponent_exact, "format_exponent_exact", value, bits, digit_count);
    if (fast != exact) {
      std::fprintf(stderr, "bits %016llx, %d digits: format_exponent \"%s\", exact \"%s\"\n",
                   static_cast<unsigned long long>(bits), digit_count, fast.c_str(),
                   exact.c_str());
      std::abort();
    }
    // With one digit the layout of the point is a matter of taste; from two
    // digits on there is only one way to write the number.
    if (digit_count < 2) continue;
    const std::vector<std::string> accepted = expected_texts(bits, seventeen, digit_count);
    bool matches = false;
    for (const std::string& text : accepted) matches = matches || text == exact;
    if (!matches) {
      std::fprintf(stderr, "bits %016llx, %d digits: format_exponent_exact \"%s\", expected \"%s\"%s%s\n",
                   static_cast<unsigned long long>(bits), digit_count, exact.c_str(),
                   accepted[0].c_str(), accepted.size() > 1 ? " or " : "",
                   accepted.size() > 1 ? accepted[1].c_str() : "");
      std::abort();
    }
  }
}

// Values derived near half-way points: the tool's digit counts only, to
// keep the runs quick.
void check_double(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  check_value(bits, TOOL_DIGIT_COUNTS);
}

// The doubles nearest to the point half-way between two 17-digit decimals
// next to `value`: where a fast first rounding is most likely to go wrong.
void check_near_half_way(double value) {
  if (!std::isfinite(value) || value == 0) return;
  char text[40];
  std::snprintf(text, sizeof text, "%.16e", value);
  char* const exponent_mark = std::strchr(text, 'e');
  std::string half_way(text, exponent_mark);
  half_way += '5';
  half_way += exponent_mark;
  const double nearest = std::strtod(half_way.c_str(), nullptr);
  const double neighbours[3] = {nearest, std::nextafter(nearest, -INFINITY),
                                std::nextafter(nearest, INFINITY)};
  for (double neighbour : neighbours) check_double(neighbour);
}

// The same for the half-way points of the second rounding, where the
// digits shown change: "d.dddddd5" for eight digits, "d.dddd5" for six.
void check_near_shown_half_way(double value) {
  if (!std::isfinite(value) || value == 0) return;
  for (const int digit_count : TOOL_DIGIT_COUNTS) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*e", digit_count - 1, value);
    char* const exponent_mark = std::strchr(text, 'e');
    std::string half_way(text, exponent_mark);
    half_way += '5';
    half_way += exponent_mark;
    double nearby = std::strtod(half_way.c_str(), nullptr);
    check_double(nearby);
    for (int step = 0; step < 2; ++step) check_double(nearby = std::nextafter(nearby, -INFINITY));
    nearby = std::strtod(half_way.c_str(), nullptr);
    for (int step = 0; step < 2; ++step) check_double(nearby = std::nextafter(nearby, INFINITY));
  }
}

// A double whose exact value has 18 significant digits ending in 5, so the
// first rounding is an exact tie, made from `seed`. Such a value is N * 2^-k
// with N odd, N * 5^k between 10^17 and 10^18 and N below 2^53.
void check_exact_tie(std::uint64_t seed) {
  const int k = 2 + static_cast<int>(seed % 24);
  std::uint64_t power_of_five = 1;
  for (int i = 0; i < k; ++i) power_of_five *= 5;
  const std::uint64_t smallest_18_digits = 100000000000000000u;
  const std::uint64_t lowest = (smallest_18_digits + power_of_five - 1) / power_of_five;
  std::uint64_t highest = (10 * smallest_18_digits - 1) / power_of_five;
  if (highest >= std::uint64_t{1} << 53) highest = (std::uint64_t{1} << 53) - 1;
  if (lowest > highest) return;
  std::uint64_t odd = lowest + (seed >> 5) % (highest - lowest + 1);
  if (odd % 2 == 0) odd = odd < highest ? odd + 1 : odd - 1;
  if (odd < lowest || odd % 2 == 0) return;
  const double tie = std::ldexp(static_cast<double>(odd), -k) * ((seed >> 63) ? -1.0 : 1.0);
  // Every digit count: with 17 digits the tie itself shows.
  std::uint64_t bits;
  std::memcpy(&bits, &tie, sizeof bits);
  check_value(bits, EVERY_DIGIT_COUNT);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at < size; at += 8) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data + at, size - at < 8 ? size - at : 8);
    check_value(bits, EVERY_DIGIT_COUNT);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    check_near_half_way(value);
    check_near_shown_half_way(value);
    check_exact_tie(bits);
  }
  return 0;
}
