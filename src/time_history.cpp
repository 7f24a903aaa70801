#include "time_history.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "number_reader.h"

namespace {

constexpr int CHUNK_SIZE = 1 << 20;

// The file is read in chunks into this one buffer; the bytes not yet
// scanned move to its front before the next chunk is appended. The extra
// room holds what is left of the previous chunk.
char input_buffer[CHUNK_SIZE + MAX_NUMBER_TEXT];

struct InputWindow {
  int file;
  const char* cursor;
  const char* end;
  bool file_ended;
};

void read_more(InputWindow& input) {
  const std::size_t kept = static_cast<std::size_t>(input.end - input.cursor);
  std::memmove(input_buffer, input.cursor, kept);
  char* filled = input_buffer + kept;
  char* const limit = input_buffer + sizeof input_buffer;
  while (filled < limit) {
    const ssize_t got = read(input.file, filled, static_cast<std::size_t>(limit - filled));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // a read error ends the data like the end of the file
      input.file_ended = true;
      break;
    }
    filled += got;
  }
  input.cursor = input_buffer;
  input.end = filled;
}

// Skips blanks; then makes sure a whole number lies ahead unless the file
// has ended. Returns false when nothing but blanks was left.
bool reach_next_number(InputWindow& input) {
  for (;;) {
    while (input.cursor < input.end && is_input_blank(*input.cursor)) ++input.cursor;
    if (input.cursor < input.end || input.file_ended) break;
    read_more(input);
  }
  if (!input.file_ended && input.end - input.cursor < MAX_NUMBER_TEXT) read_more(input);
  return input.cursor < input.end;
}

enum class PairStatus { end_of_input, nothing_read, time_only, both };

PairStatus read_pair(InputWindow& input, double& time, double& amplitude) {
  if (!reach_next_number(input)) return PairStatus::end_of_input;
  const NumberScan first = scan_number(input.cursor, input.end);
  input.cursor = first.next;
  if (first.status == ScanStatus::end_of_input) return PairStatus::end_of_input;
  if (first.status == ScanStatus::not_a_number) return PairStatus::nothing_read;
  time = first.value;
  if (!reach_next_number(input)) return PairStatus::time_only;
  const NumberScan second = scan_number(input.cursor, input.end);
  input.cursor = second.next;
  if (second.status != ScanStatus::number) return PairStatus::time_only;
  amplitude = second.value;
  return PairStatus::both;
}

}  // namespace

void read_time_history(TimeHistory& history, int input_file) {
  InputWindow input = {input_file, input_buffer, input_buffer, false};
  std::int32_t count = 0;
  while (count < MAX_SAMPLES) {
    const PairStatus status = read_pair(input, history.time[count], history.amplitude[count]);
    if (status == PairStatus::end_of_input || status == PairStatus::nothing_read) break;
    // A pair cut short keeps the amplitude that static storage starts with.
    if (status == PairStatus::time_only) history.amplitude[count] = 0.0;
    history.unfiltered_amplitude[count] = history.amplitude[count];
    ++count;
  }
  close(input_file);
  history.sample_count = count;
  history.last = count - 1;
}
