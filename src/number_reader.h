#pragma once

// The number grammar of time-history files: what counts as one number, how
// much of the text it consumes, and which double it stands for. Kept apart
// from file reading so the grammar can be tested on plain strings.
//
// Grammar: optional sign, digits with at most one decimal point (at least one
// digit), optional exponent (e or E, optional sign, digits). Taken greedily;
// an exponent without digits is consumed but ignored; a lone sign or point is
// consumed and lost. At most NUMBER_TEXT_BUDGET characters are taken after
// the sign; the character where the budget runs out begins the next number.
// The value is the nearest double; beyond the double range it becomes an
// infinity, below it a zero, both with the number's sign.

inline constexpr int NUMBER_TEXT_BUDGET = 349;

// The most bytes one scan can look at: the sign and the budget.
inline constexpr int MAX_NUMBER_TEXT = 1 + NUMBER_TEXT_BUDGET;

// Blank, tab, line feed, vertical tab, form feed, carriage return: the only
// bytes skipped between numbers. Inline: the loader asks it for every byte.
inline bool is_input_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

enum class ScanStatus {
  number,        // a number was read; `value` holds it
  not_a_number,  // the text at `next` cannot begin a number
  end_of_input,  // the text ended before a number was read
};

struct NumberScan {
  ScanStatus status;
  double value;      // meaningful for ScanStatus::number only
  const char* next;  // first byte not consumed
};

// Scans one number at `text`, which must not be a blank. `end` is either the
// true end of the input or at least MAX_NUMBER_TEXT bytes after `text`, so a
// caller reading a file in chunks keeps that much ahead of the scan.
NumberScan scan_number(const char* text, const char* end);
