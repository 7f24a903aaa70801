#pragma once

#include <cstdint>

// Answers typed at the tool's prompts. Standard input is read a line at a
// time into a fixed buffer, and each answer takes the next item from what is
// left in it, so text typed beyond one answer answers the next prompts.
// Carriage return and line feed count as one line end; a 0x1A byte at the
// start of a line ends the input, as Ctrl-Z does on a console.

inline constexpr int ANSWER_BUFFER_SIZE = 4096;

struct AnswerReader {
  int input_file;  // descriptor the answers come from
  char buffer[ANSWER_BUFFER_SIZE];
  int position;  // next unread byte in buffer
  int length;    // bytes in buffer
  bool at_line_start;
  bool ended;
};

enum class Answer {
  given,         // the answer was read
  not_a_number,  // an integer was asked for; the offending byte stays unread
  too_long,      // a token did not fit; all of it was consumed
  ended,         // the input ended before an answer
};

// Starts reading answers from `input_file`.
void start_answers(AnswerReader& reader, int input_file);

// Reads one token (bytes up to the next blank) into `token` as a terminated
// string of at most `capacity` - 1 bytes.
Answer read_token(AnswerReader& reader, char* token, int capacity);

// Reads an optionally signed decimal integer. Digits are accumulated modulo
// 2^32 and taken as a signed 32-bit value, as a C runtime would, without an
// overflow report. `value` is left unchanged unless the answer is given.
Answer read_integer(AnswerReader& reader, std::int32_t& value);

// Drops what is left of the current input line, line end included.
void discard_line(AnswerReader& reader);
