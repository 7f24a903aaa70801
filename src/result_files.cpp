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
// Room for a time's text: sign, eight digits, point and "e+000" take 15 bytes.
constexpr int TIME_TEXT_ROOM = 16;

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

// Makes room for one more line.
char* line_start(ResultBuffer& buffer) {
  if (buffer.length > OUTPUT_BUFFER_SIZE - LONGEST_LINE) flush(buffer);
  return buffer.bytes + buffer.length;
}

// Writes the separator, the value and the line end after a line's time.
void end_line(ResultBuffer& buffer, char* out, double value) {
  out = append(out, SEPARATOR, sizeof SEPARATOR - 1);
  out += format_exponent(value, VALUE_DIGITS, out);
  out = append(out, LINE_END, sizeof LINE_END - 1);
  buffer.length = static_cast<int>(out - buffer.bytes);
}

// The samples being written, between begin_results and end_results.
const TimeHistory* writing = nullptr;

}  // namespace

void begin_results(const TimeHistory& history, int filtered_file, int residual_file) {
  writing = &history;
  filtered_buffer.file = filtered_file;
  residual_buffer.file = residual_file;
  filtered_buffer.length = residual_buffer.length = 0;
  filtered_buffer.failed = residual_buffer.failed = false;
}

void write_result_line(std::int32_t i) {
  // After a failed write the rest is dropped: the run reports the failure.
  if (filtered_buffer.failed || residual_buffer.failed) return;
  char* const filtered_line = line_start(filtered_buffer);
  char* const residual_line = line_start(residual_buffer);
  // A line's time is the same in both files: it is formatted once, and
  // copied only after the filtered value, so that the copy's load does not
  // wait on the bytes just stored. The copy is a fixed 16 bytes (the
  // longest time text is 15), which what follows overwrites.
  static_assert(TIME_TEXT_ROOM >= 1 + TIME_DIGITS + 1 + 5);
  const int time_length = format_exponent(writing->time[i], TIME_DIGITS, filtered_line);
  end_line(filtered_buffer, filtered_line + time_length, writing->amplitude[i]);
  std::memcpy(residual_line, filtered_line, TIME_TEXT_ROOM);
  end_line(residual_buffer, residual_line + time_length,
           writing->unfiltered_amplitude[i] - writing->amplitude[i]);
}

ResultWrite end_results() {
  flush(filtered_buffer);
  flush(residual_buffer);
  writing = nullptr;
  if (filtered_buffer.failed) return ResultWrite::filtered_failed;
  if (residual_buffer.failed) return ResultWrite::residual_failed;
  return ResultWrite::complete;
}

ResultWrite write_results(const TimeHistory& history, int filtered_file, int residual_file) {
  begin_results(history, filtered_file, residual_file);
  for (std::int32_t i = 0; i <= history.last; ++i) write_result_line(i);
  return end_results();
}
