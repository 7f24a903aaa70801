#include "result_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "number_form.h"

namespace {

constexpr int OUTPUT_BUFFER_SIZE = 1 << 20;
// The longest line: two numbers, the separator and the line end.
constexpr int LONGEST_LINE = 2 * NUMBER_FORM_MAX + 8;

// Result files are text files of the tool's home system: a line ends with a
// carriage return and a line feed, whatever this system's convention is.
constexpr char LINE_END[] = " \r\n";
constexpr char SEPARATOR[] = " \t ";

struct ResultBuffer {
  int file;
  int length;
  bool failed;
  char bytes[OUTPUT_BUFFER_SIZE];
};

ResultBuffer filtered_buffer;
ResultBuffer residual_buffer;

void flush(ResultBuffer& buffer) {
  const char* pending = buffer.bytes;
  std::size_t left = static_cast<std::size_t>(buffer.length);
  while (left > 0 && !buffer.failed) {
    const ssize_t written = write(buffer.file, pending, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      buffer.failed = true;
      break;
    }
    pending += written;
    left -= static_cast<std::size_t>(written);
  }
  buffer.length = 0;
}

char* append(char* out, const char* text, std::size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

// A line's time is the same in both files; it is formatted once. Its whole
// room is copied, a fixed size the compiler turns into two moves, and the
// bytes beyond its length are overwritten by what follows.
void add_line(ResultBuffer& buffer, const char (&time_text)[NUMBER_FORM_MAX], int time_length,
              double value) {
  if (buffer.length > OUTPUT_BUFFER_SIZE - LONGEST_LINE) flush(buffer);
  char* out = buffer.bytes + buffer.length;
  std::memcpy(out, time_text, NUMBER_FORM_MAX);
  out += time_length;
  out = append(out, SEPARATOR, sizeof SEPARATOR - 1);
  out += format_exponent(value, VALUE_DIGITS, out);
  out = append(out, LINE_END, sizeof LINE_END - 1);
  buffer.length = static_cast<int>(out - buffer.bytes);
}

}  // namespace

ResultWrite write_results(const TimeHistory& history, int filtered_file, int residual_file) {
  filtered_buffer.file = filtered_file;
  residual_buffer.file = residual_file;
  filtered_buffer.length = residual_buffer.length = 0;
  filtered_buffer.failed = residual_buffer.failed = false;
  char time_text[NUMBER_FORM_MAX] = {};
  for (std::int32_t i = 0; i <= history.last; ++i) {
    const int time_length = format_exponent(history.time[i], TIME_DIGITS, time_text);
    add_line(filtered_buffer, time_text, time_length, history.amplitude[i]);
    add_line(residual_buffer, time_text, time_length,
             history.unfiltered_amplitude[i] - history.amplitude[i]);
    if (filtered_buffer.failed || residual_buffer.failed) break;
  }
  flush(filtered_buffer);
  flush(residual_buffer);
  if (filtered_buffer.failed) return ResultWrite::filtered_failed;
  if (residual_buffer.failed) return ResultWrite::residual_failed;
  return ResultWrite::complete;
}
