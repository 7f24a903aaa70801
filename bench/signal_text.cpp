#include "signal_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

// Appends `value` in C's exponent form, widened to a three-digit exponent.
// Written with snprintf rather than the tool's own formatter, so that the
// input does not depend on the code being measured.
void append_number(std::string& text, double value, int digits_after_point) {
  char number[40];
  const int length = std::snprintf(number, sizeof number, "%.*e", digits_after_point, value);
  const char* const end = number + length;
  const char* const exponent_digits = std::strchr(number, 'e') + 2;  // past 'e' and its sign
  text.append(static_cast<const char*>(number), exponent_digits);
  if (end - exponent_digits == 2) text += '0';
  text.append(exponent_digits, end);
}

}  // namespace

std::vector<double> signal_amplitudes() {
  std::mt19937_64 generator(20071009);
  std::normal_distribution<double> noise(0.0, 0.3);
  std::vector<double> amplitudes(SIGNAL_SAMPLES);
  const double pi = std::acos(-1.0);
  for (int i = 0; i < SIGNAL_SAMPLES; ++i)
    amplitudes[i] = std::sin(2.0 * pi * 50.0 * i * SIGNAL_TIME_STEP) + noise(generator);
  return amplitudes;
}

std::string signal_text() {
  const std::vector<double> amplitudes = signal_amplitudes();
  std::string text;
  text.reserve(static_cast<std::size_t>(SIGNAL_SAMPLES) * 34);
  for (int i = 0; i < SIGNAL_SAMPLES; ++i) {
    append_number(text, i * SIGNAL_TIME_STEP, 7);
    text += " \t ";
    append_number(text, amplitudes[i], 5);
    text += " \r\n";
  }
  return text;
}
