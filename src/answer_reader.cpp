#include "answer_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr char END_OF_INPUT_KEY = 0x1A;  // Ctrl-Z

bool is_answer_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the next chunk: a whole line from a terminal, up to the buffer's
// size from a pipe or file. A carriage return needs no translation: it is
// blank to every answer, and the line feed after it ends the line.
bool refill(AnswerReader& reader) {
  if (reader.ended) return false;
  ssize_t got;
  while ((got = read(reader.input_file, reader.buffer, ANSWER_BUFFER_SIZE)) < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A standard input left non-blocking by whoever started the tool has
      // simply no answer yet: wait for one rather than take it for the end.
      pollfd readable = {reader.input_file, POLLIN, 0};
      poll(&readable, 1, -1);
    } else if (errno != EINTR) {
      break;
    }
  }
  if (got <= 0) {
    reader.ended = true;
    return false;
  }
  reader.position = 0;
  reader.length = static_cast<int>(got);
  return true;
}

// The next byte without consuming it, or -1 once the input has ended.
int peek(AnswerReader& reader) {
  if (reader.ended) return -1;
  if (reader.position == reader.length && !refill(reader)) return -1;
  const char c = reader.buffer[reader.position];
  if (c == END_OF_INPUT_KEY && reader.at_line_start) {
    reader.ended = true;
    return -1;
  }
  return static_cast<unsigned char>(c);
}

void consume(AnswerReader& reader) {
  reader.at_line_start = reader.buffer[reader.position] == '\n';
  ++reader.position;
}

// Skips blanks; returns the first other byte, or -1 at the end of input.
int skip_blanks(AnswerReader& reader) {
  int c;
  while ((c = peek(reader)) != -1 && is_answer_blank(c)) consume(reader);
  return c;
}

}  // namespace

void start_answers(AnswerReader& reader, int input_file) {
  reader.input_file = input_file;
  reader.position = 0;
  reader.length = 0;
  reader.at_line_start = true;
  reader.ended = false;
}

Answer read_token(AnswerReader& reader, char* token, int capacity) {
  int c = skip_blanks(reader);
  if (c == -1) return Answer::ended;
  int length = 0;
  bool fits = true;
  // A token longer than the room is consumed whole, so that its tail does
  // not answer the next prompt.
  for (; c != -1 && !is_answer_blank(c); c = peek(reader)) {
    if (length < capacity - 1) {
      token[length++] = static_cast<char>(c);
    } else {
      fits = false;
    }
    consume(reader);
  }
  token[length] = '\0';
  return fits ? Answer::given : Answer::too_long;
}

Answer read_integer(AnswerReader& reader, std::int32_t& value) {
  int c = skip_blanks(reader);
  if (c == -1) return Answer::ended;
  const bool negative = c == '-';
  if (c == '-' || c == '+') {
    consume(reader);
    c = peek(reader);
    if (c == -1) return Answer::ended;
  }
  if (c < '0' || c > '9') return Answer::not_a_number;
  std::uint32_t magnitude = 0;  // wraps modulo 2^32, as the C runtime's conversion does
  for (; c >= '0' && c <= '9'; c = peek(reader)) {
    magnitude = magnitude * 10u + static_cast<std::uint32_t>(c - '0');
    consume(reader);
  }
  if (negative) magnitude = 0u - magnitude;
  value = static_cast<std::int32_t>(magnitude);
  return Answer::given;
}

void discard_line(AnswerReader& reader) {
  int c;
  while ((c = peek(reader)) != -1) {
    consume(reader);
    if (c == '\n') return;
  }
}
