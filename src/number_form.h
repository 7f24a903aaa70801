#pragma once

// The text form of numbers in result files: exponent notation with a fixed
// number of significant digits, as "1.2345679e+005" or "-6.66667e-001".
// Kept apart from file writing so it can be tested, and measured, alone.
//
// The digits come from two roundings in a row: first to 17 significant
// digits (half away from zero), then that 17-digit form is cut to the digits
// shown (half up, carrying through nines). The exponent always has a sign
// and three digits. Zero of either sign has no sign. Infinities and
// not-a-number values show a marker ("1#INF", "1#IND", "1#QNAN") in place of
// the digits, filled with zeros, with exponent "e+000".

// Digits shown for a time and for an amplitude.
inline constexpr int TIME_DIGITS = 8;
inline constexpr int VALUE_DIGITS = 6;

// Room for the longest text: sign, 17 digits, point, "e-324".
inline constexpr int NUMBER_FORM_MAX = 32;

// Writes `value` with `significant_digits` (1 to 17) digits into `out`, which
// holds at least NUMBER_FORM_MAX bytes. Returns the number of bytes written;
// no terminator is added.
int format_exponent(double value, int significant_digits, char* out);

// Same contract, worked out the slow and obviously exact way (the 17 digits
// from std::to_chars). format_exponent falls back to it where its own
// arithmetic cannot decide; tests and benchmarks compare the two.
int format_exponent_exact(double value, int significant_digits, char* out);
