#include "number_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double DBL_MAX_VALUE = std::numeric_limits<double>::max();
constexpr double MIN_SUBNORMAL = std::numeric_limits<double>::denorm_min();

struct Scanned {
  ScanStatus status;
  double value;
  std::ptrdiff_t consumed;
};

// Scans from a heap copy of exactly the text's size, so that a read at or past
// `end` shows up under AddressSanitizer instead of hitting a string's NUL.
Scanned scan(const std::string& text) {
  auto exact = std::make_unique<char[]>(text.size());
  std::copy(text.begin(), text.end(), exact.get());
  const NumberScan result = scan_number(exact.get(), exact.get() + text.size());
  return {result.status, result.value, result.next - exact.get()};
}

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

double strtod_of(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

std::string repeat(char c, int count) { return std::string(static_cast<std::size_t>(count), c); }

struct Case {
  std::string text;
  ScanStatus status;
  double value;  // ignored unless status is number
  std::ptrdiff_t consumed;
};

constexpr ScanStatus NUMBER = ScanStatus::number;
constexpr ScanStatus NOT_A_NUMBER = ScanStatus::not_a_number;
constexpr ScanStatus END = ScanStatus::end_of_input;

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\" (" + std::to_string(c.text.size()) + " bytes)");
    const Scanned got = scan(c.text);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.consumed, c.consumed);
    if (c.status == NUMBER && got.status == NUMBER) {
      EXPECT_EQ(bits(got.value), bits(c.value)) << "got " << got.value << " want " << c.value;
    }
  }
}

TEST(NumberReader, BlanksAreExactlyTheSixAsciiSpaces) {
  for (int c = -128; c < 128; ++c) {
    const bool expected = c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    EXPECT_EQ(is_input_blank(static_cast<char>(c)), expected) << "byte " << c;
  }
}

TEST(NumberReader, TakesTheLongestNumberAndStopsAtTheFirstByteThatCannotExtendIt) {
  expect_cases({
      {"1.2345678e-003 \t -4.56789e+001 \r\n", NUMBER, 1.2345678e-003, 14},
      {"-4.56789e+001 \r\n", NUMBER, -4.56789e+001, 13},
      {"1.2.3", NUMBER, 1.2, 3},
      {".3", NUMBER, 0.3, 2},
      {"1-2", NUMBER, 1.0, 1},
      {"1+2", NUMBER, 1.0, 1},
      {"1..5", NUMBER, 1.0, 2},
      {"1.", NUMBER, 1.0, 2},
      {"1.e5", NUMBER, 1e5, 4},
      {".5e1", NUMBER, 5.0, 4},
      {"00012.50", NUMBER, 12.5, 8},
      {"+7", NUMBER, 7.0, 2},
      {"1E5x", NUMBER, 1e5, 3},
      {"1e-5", NUMBER, 1e-5, 4},
      {"1e+05", NUMBER, 1e5, 5},
      {"1ee5", NUMBER, 1.0, 2},
      {"1e5.5", NUMBER, 1e5, 3},
      {"1e5e5", NUMBER, 1e5, 3},
      {"0.1", NUMBER, 0.1, 3},
      {"123456789", NUMBER, 123456789.0, 9},
  });
}

TEST(NumberReader, ExponentWithoutDigitsIsConsumedButIgnored) {
  expect_cases({
      {"1e", NUMBER, 1.0, 2},
      {"1e+", NUMBER, 1.0, 3},
      {"1e-", NUMBER, 1.0, 3},
      {"1ex", NUMBER, 1.0, 2},
      {"1E-x", NUMBER, 1.0, 3},
      {"1.5e+ 2", NUMBER, 1.5, 5},
      {"1e+-5", NUMBER, 1.0, 3},
      {"-2.e", NUMBER, -2.0, 4},
  });
}

TEST(NumberReader, LoneSignOrPointIsLostAndEndOfInputIsReported) {
  expect_cases({
      {"", END, 0, 0},
      {"+", END, 0, 1},
      {"-", END, 0, 1},
      {".", END, 0, 1},
      {"-.", END, 0, 2},
      {"-x", NOT_A_NUMBER, 0, 1},
      {"+.x", NOT_A_NUMBER, 0, 2},
      {". ", NOT_A_NUMBER, 0, 1},
      {"- 1", NOT_A_NUMBER, 0, 1},
      {"--1", NOT_A_NUMBER, 0, 1},
      {"+-1", NOT_A_NUMBER, 0, 1},
      {"..5", NOT_A_NUMBER, 0, 1},
      // The e needs a digit before it, so it stays for the next attempt.
      {".e5", NOT_A_NUMBER, 0, 1},
      {"-e5", NOT_A_NUMBER, 0, 1},
      {"e5", NOT_A_NUMBER, 0, 0},
      {"E", NOT_A_NUMBER, 0, 0},
  });
}

TEST(NumberReader, ForeignNotationsAreNotNumbers) {
  expect_cases({
      {"inf", NOT_A_NUMBER, 0, 0},
      {"-inf", NOT_A_NUMBER, 0, 1},
      {"INFINITY", NOT_A_NUMBER, 0, 0},
      {"nan", NOT_A_NUMBER, 0, 0},
      {"+NaN", NOT_A_NUMBER, 0, 1},
      {"0x1p3", NUMBER, 0.0, 1},
      {"-0X10", NUMBER, -0.0, 2},
      {"1d5", NUMBER, 1.0, 1},
      {"1D5", NUMBER, 1.0, 1},
      {"1,5", NUMBER, 1.0, 1},
      {",5", NOT_A_NUMBER, 0, 0},
      {"x1p3", NOT_A_NUMBER, 0, 0},
  });
}

TEST(NumberReader, ControlAndHighBytesNeitherStartNorExtendANumber) {
  using namespace std::string_literals;
  expect_cases({
      {"\0"s, NOT_A_NUMBER, 0, 0},
      {"\0"
       "1"s,
       NOT_A_NUMBER, 0, 0},
      {"1\0"
       "2"s,
       NUMBER, 1.0, 1},
      {"-\0"s, NOT_A_NUMBER, 0, 1},
      {"1e\0"
       "5"s,
       NUMBER, 1.0, 2},
      {"\x1A", NOT_A_NUMBER, 0, 0},
      {"7\x1A", NUMBER, 7.0, 1},
      {"\x80"
       "1",
       NOT_A_NUMBER, 0, 0},
      {"3\xFF", NUMBER, 3.0, 1},
      {"\xB9", NOT_A_NUMBER, 0, 0},  // superscript one in Latin-1
  });
}

TEST(NumberReader, ZerosKeepTheirSign) {
  expect_cases({
      {"0", NUMBER, 0.0, 1},
      {"-0", NUMBER, -0.0, 2},
      {"+0", NUMBER, 0.0, 2},
      {"-0.000", NUMBER, -0.0, 6},
      {"-.0e5", NUMBER, -0.0, 5},
      {"0e99999999999", NUMBER, 0.0, 13},
      {"-0e-99999999999", NUMBER, -0.0, 15},
      {"-" + repeat('0', 300), NUMBER, -0.0, 301},
  });
}

TEST(NumberReader, OutOfRangeBecomesSignedInfinityOrSignedZero) {
  expect_cases({
      {"1e999", NUMBER, INF, 5},
      {"-1e999", NUMBER, -INF, 6},
      {"1e99999999999", NUMBER, INF, 13},
      {"-1e-999", NUMBER, -0.0, 7},
      {"1e-99999999999", NUMBER, 0.0, 14},
      {"-1e-99999999999", NUMBER, -0.0, 15},
      {"1e-400", NUMBER, 0.0, 6},
      {"2e-324", NUMBER, 0.0, 6},
      {"-2e-324", NUMBER, -0.0, 7},
      {"1e309", NUMBER, INF, 5},
      {"-1e309", NUMBER, -INF, 6},
      // Many digits cancel a large exponent: 0.000...1e400 is 1e100.
      {"0." + repeat('0', 299) + "1e400", NUMBER, 1e100, 306},
      // ...and a long integer part pushes a moderate exponent over the edge.
      {"1" + repeat('0', 300) + "e9", NUMBER, INF, 303},
      {"1" + repeat('0', 300) + "e8", NUMBER, 1e308, 303},
      // Leading zeros must not make an underflow look like an overflow.
      {repeat('0', 340) + "1e-330", NUMBER, 0.0, 346},
      {"-" + repeat('0', 340) + "1e-330", NUMBER, -0.0, 347},
  });
}

TEST(NumberReader, EdgesOfTheDoubleRange) {
  expect_cases({
      {"1.7976931348623157e308", NUMBER, DBL_MAX_VALUE, 22},
      {"-1.7976931348623157e308", NUMBER, -DBL_MAX_VALUE, 23},
      {"1.7976931348623158e308", NUMBER, DBL_MAX_VALUE, 22},
      {"1.7976931348623159e308", NUMBER, INF, 22},
      {"-1.7976931348623159e308", NUMBER, -INF, 23},
      {"2.2250738585072014e-308", NUMBER, std::numeric_limits<double>::min(), 23},
      {"2.2250738585072011e-308", NUMBER, 0x0.fffffffffffffp-1022, 23},
      {"4.9406564584124654e-324", NUMBER, MIN_SUBNORMAL, 23},
      {"-4.9406564584124654e-324", NUMBER, -MIN_SUBNORMAL, 24},
      {"3e-324", NUMBER, MIN_SUBNORMAL, 6},
      // Just below and just above half the smallest subnormal.
      {"2.4703282292062327e-324", NUMBER, 0.0, 23},
      {"2.4703282292062328e-324", NUMBER, MIN_SUBNORMAL, 23},
      {"1e-310", NUMBER, 1e-310, 6},
  });
  // The boundary between the largest double and overflow, on either side and
  // exactly on it, must agree with the C library.
  const std::string halfway_above_max =
      "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901797"
      "758"
      "72070963302864166928879109465555478519404026306574886715058206819089020007083836762738548458"
      "177"
      "11531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699"
      "508"
      "093042880177904174497792";
  for (const std::string& text :
       {halfway_above_max, halfway_above_max + "1",
        halfway_above_max.substr(0, halfway_above_max.size() - 1) + "1"}) {
    SCOPED_TRACE(text);
    const Scanned got = scan(text);
    ASSERT_EQ(got.status, NUMBER);
    EXPECT_EQ(got.consumed, static_cast<std::ptrdiff_t>(text.size()));
    EXPECT_EQ(bits(got.value), bits(strtod_of(text)));
  }
}

TEST(NumberReader, RoundsCorrectlyWhereNaiveArithmeticDoesNot) {
  expect_cases({
      {"1e22", NUMBER, 1e22, 4},
      {"1e23", NUMBER, 1e23, 4},
      {"9007199254740992", NUMBER, 9007199254740992.0, 16},
      {"9007199254740993.1", NUMBER, 9007199254740994.0, 18},
      // Halfway between two doubles until the last digit, far past the 19th.
      {"9007199254740993." + repeat('0', 20) + "1", NUMBER, 9007199254740994.0, 38},
      {"123456789012345678901234567890", NUMBER, 1.2345678901234568e29, 30},
      {"0.1e-22", NUMBER, 1e-23, 7},
      {"8.98846567431158e307", NUMBER, 8.98846567431158e307, 20},
      {"2.2250738585072012e-308", NUMBER, 2.2250738585072012e-308, 23},
      {"7.038531e-26", NUMBER, 7.038531e-26, 12},
      {"0.30000000000000004", NUMBER, 0.30000000000000004, 19},
      {"1" + repeat('0', 25), NUMBER, 1e25, 26},
  });
}

TEST(NumberReader, LongExponentDigitStringsAreRead) {
  expect_cases({
      {"1e" + repeat('0', 300) + "5", NUMBER, 1e5, 303},
      {"-2.5E-" + repeat('0', 340) + "3", NUMBER, -2.5e-3, 347},
      {"1e" + repeat('9', 300), NUMBER, INF, 302},
      {"1e-" + repeat('9', 300), NUMBER, 0.0, 303},
  });
}

TEST(NumberReader, BudgetStopsAfter349CharactersNotCountingTheSign) {
  const std::string seven = repeat('0', 348) + "7";  // 349 characters
  expect_cases({
      {seven, NUMBER, 7.0, 349},
      {seven + "5", NUMBER, 7.0, 349},
      {"-" + seven + "5", NUMBER, -7.0, 350},
      {"+" + seven + "5", NUMBER, 7.0, 350},
      // One character fewer leaves room for the extra digit.
      {repeat('0', 347) + "75", NUMBER, 75.0, 349},
      // The point counts too.
      {"0.7" + repeat('0', 346) + "5", NUMBER, 0.7, 349},
      {repeat('0', 347) + "2." + "5", NUMBER, 2.0, 349},
      // So do the exponent letter and its sign.
      {repeat('0', 346) + "1e5" + "7", NUMBER, 1e5, 349},
      {repeat('0', 345) + "1e-5" + "7", NUMBER, 1e-5, 349},
      {repeat('0', 347) + "1e" + "5", NUMBER, 1.0, 349},
      {repeat('0', 346) + "1e+" + "5", NUMBER, 1.0, 349},
      {"-" + repeat('0', 346) + "1E-" + "5", NUMBER, -1.0, 350},
      // The e is the 350th character: it stays unread.
      {repeat('0', 348) + "1" + "e5", NUMBER, 1.0, 349},
      // 349 significant digits go through the exact path.
      {"1" + repeat('0', 348) + "9", NUMBER, INF, 349},
      {"0." + repeat('0', 5) + repeat('3', 342) + "9", NUMBER,
       strtod_of("0." + repeat('0', 5) + repeat('3', 342)), 349},
  });
}

TEST(NumberReader, ReadsNoFurtherThanTheBudgetWhenTheInputGoesOn) {
  // A chunked reader hands over `end` at least 350 bytes ahead; the rest of
  // the buffer may hold anything, including the next number's digits.
  const std::string text = "-" + repeat('0', 348) + "3" + repeat('9', 100);
  const NumberScan got = scan_number(text.data(), text.data() + MAX_NUMBER_TEXT);
  EXPECT_EQ(got.status, NUMBER);
  EXPECT_EQ(bits(got.value), bits(-3.0));
  EXPECT_EQ(got.next, text.data() + MAX_NUMBER_TEXT);
}

// Builds a random decimal number text; `sign_length` receives the length of
// its sign (0 or 1). Mixes short, typical numbers (mostly the fast path) with
// long ones and exponents that reach into subnormals and past overflow.
std::string random_number_text(std::mt19937_64& random, std::size_t& sign_length) {
  auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::string text;
  const int sign = pick(0, 2);
  if (sign == 1) text += '-';
  if (sign == 2) text += '+';
  sign_length = text.size();

  const int shape = pick(0, 9);
  const int digit_count = shape < 5 ? pick(1, 17) : shape < 9 ? pick(1, 40) : pick(1, 360);
  std::string digits;
  for (int i = 0; i < digit_count; ++i) digits += static_cast<char>('0' + pick(0, 9));
  if (pick(0, 3) == 0) digits[0] = '0';     // leading zeros
  const int point = pick(-1, digit_count);  // -1: no point
  const int integer_digits = point < 0 ? digit_count : point;
  if (point < 0) {
    text += digits;
  } else {
    text += digits.substr(0, static_cast<std::size_t>(point)) + "." +
            digits.substr(static_cast<std::size_t>(point));
  }

  if (pick(0, 4) == 0) return text;  // some numbers have no exponent
  // Aim the value's magnitude anywhere from far below the subnormals to past
  // overflow, or keep it within the exactly representable powers of ten.
  const int magnitude = shape < 5 ? pick(-25, 25) : pick(-360, 330);
  const int exponent = magnitude - integer_digits;
  text += pick(0, 1) ? 'e' : 'E';
  if (exponent < 0) {
    text += '-';
  } else if (pick(0, 1)) {
    text += '+';
  }
  if (pick(0, 7) == 0) text += repeat('0', pick(1, 30));
  text += std::to_string(std::abs(exponent));
  return text;
}

TEST(NumberReader, AgreesWithStrtodOnRandomNumbers) {
  std::mt19937_64 random(20240917);
  const std::string terminators[] = {"", " ", "\t", "\r\n", "x", ",", std::string(1, '\0')};
  for (int i = 0; i < 200000; ++i) {
    std::size_t sign_length = 0;
    const std::string number = random_number_text(random, sign_length);
    const std::string terminator = terminators[random() % std::size(terminators)];
    const std::string text = number + terminator;
    SCOPED_TRACE(text);

    const Scanned got = scan(text);
    ASSERT_EQ(got.status, NUMBER);
    // A number longer than the budget is cut; what remains is still a valid
    // number, so strtod on the consumed text is the reference either way.
    const std::size_t expected_length =
        sign_length + std::min<std::size_t>(number.size() - sign_length, NUMBER_TEXT_BUDGET);
    ASSERT_EQ(got.consumed, static_cast<std::ptrdiff_t>(expected_length));
    const std::string consumed = text.substr(0, expected_length);
    ASSERT_EQ(bits(got.value), bits(strtod_of(consumed)))
        << "got " << got.value << " want " << strtod_of(consumed);
  }
}

}  // namespace
