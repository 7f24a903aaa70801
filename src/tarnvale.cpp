#include "tarnvale.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "console.h"
#include "mean_filter.h"
#include "result_files.h"
#include "time_history.h"

namespace {

const char RESULT_PROMPT[] = "\n Enter the output filename: \n";
const char WINDOW_PROMPT[] = "\n Enter the window size.  Must be odd number. <=31 \n";

// Every message is on the screen before the tool waits for the next answer.
void show(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void show_name(const char* format, const char* name) {
  std::printf(format, name);
  std::fflush(stdout);
}

void show_name_too_long() { show("\n The name is longer than 259 characters. \n"); }

void show_banner() {
  show("\n tarnvale  version 1.0,  October 9, 2007 \n");
  show("\n by the tarnvale developers,  e-mail: tarnvale@example.org \n");
  show("\n This program performs mean filtering on a time history ");
  show("\n with a sliding window. \n");
  show("\n Note that a mean filter is a type of a lowpass filter. \n");
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens without blocking, so a named pipe with nobody at the other end is
// refused at once instead of hanging the dialogue.
int open_without_waiting(const char* name, int flags) {
  const int file = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (file >= 0) fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
  return file;
}

// A folder opens for reading on this system, but it holds no samples.
int open_input(const char* name) {
  const int file = open_without_waiting(name, O_RDONLY);
  struct stat status;
  if (file >= 0 && (fstat(file, &status) != 0 || S_ISDIR(status.st_mode))) {
    close(file);
    return -1;
  }
  return file;
}

enum class Creation { created, is_input, is_other_result, failed };

// Creates or truncates a result file, but never one that is the input file
// or the other result file under another name or through a link: that
// would destroy the data before it is read, or mix the two results.
Creation create_result(const char* name, int input_file, int other_result, int& file) {
  struct stat input_status, other_status, result_status;
  const bool has_input = fstat(input_file, &input_status) == 0;
  const bool has_other = other_result >= 0 && fstat(other_result, &other_status) == 0;
  const auto taken = [&]() {
    if (has_input && same_file(result_status, input_status)) return Creation::is_input;
    // Two results in one regular file would mix them; a device such as
    // /dev/null may well take both.
    if (has_other && S_ISREG(other_status.st_mode) && same_file(result_status, other_status))
      return Creation::is_other_result;
    return Creation::created;
  };
  // Compare before opening, so that a refused file is left untouched.
  if (stat(name, &result_status) == 0) {
    const Creation existing = taken();
    if (existing != Creation::created) return existing;
  }
  file = open_without_waiting(name, O_WRONLY | O_CREAT);
  if (file < 0) return Creation::failed;
  // Compare again on what was opened, in case the name changed meanwhile.
  Creation outcome = fstat(file, &result_status) == 0 ? taken() : Creation::failed;
  // Only a file with content is truncated: some file systems (ext4) take
  // a truncation to zero as a file being replaced and write it all out to
  // disk when it is closed, which would make every run wait for the disk.
  if (outcome == Creation::created && S_ISREG(result_status.st_mode) && result_status.st_size > 0 &&
      ftruncate(file, 0) != 0)
    outcome = Creation::failed;
  if (outcome != Creation::created) {
    close(file);
    file = -1;
  }
  return outcome;
}

bool ask_input_file(RunSettings& settings, AnswerReader& answers) {
  show(" Input filename \n\n");
  for (;;) {
    const Answer answer = read_token(answers, settings.input_name, NAME_BUFFER_SIZE);
    if (answer == Answer::ended) return false;
    if (answer == Answer::too_long) {
      show_name_too_long();
    } else {
      settings.input_file = open_input(settings.input_name);
      if (settings.input_file >= 0) break;
      show_name("\n Failed to open file: %s \n", settings.input_name);
    }
    show("\n Please enter the input filename: \n");
  }
  show_name("\n File: %s opened. \n", settings.input_name);
  return true;
}

bool ask_result_file(char* name, int& file, int input_file, int other_result,
                     AnswerReader& answers) {
  show(RESULT_PROMPT);
  for (;;) {
    const Answer answer = read_token(answers, name, NAME_BUFFER_SIZE);
    if (answer == Answer::ended) return false;
    if (answer == Answer::too_long) {
      show_name_too_long();
    } else {
      switch (create_result(name, input_file, other_result, file)) {
        case Creation::created:
          return true;
        case Creation::is_input:
          show_name("\n File: %s is the input file and must not be overwritten. \n", name);
          break;
        case Creation::is_other_result:
          show_name("\n File: %s is already the first output file. \n", name);
          break;
        case Creation::failed:
          show_name("\n Failed to create file: %s \n", name);
          break;
      }
    }
    show(RESULT_PROMPT);
  }
}

bool is_accepted_window(std::int32_t window_size) {
  return window_size >= 1 && window_size <= MAX_WINDOW && window_size % 2 == 1;
}

bool ask_window_size(RunSettings& settings, AnswerReader& answers) {
  show(WINDOW_PROMPT);
  for (;;) {
    const Answer answer = read_integer(answers, settings.window_size);
    if (answer == Answer::ended) return false;
    // Text that is not a number would stay unread and be refused again and
    // again: drop the rest of its line.
    if (answer == Answer::not_a_number) discard_line(answers);
    if (answer == Answer::given && is_accepted_window(settings.window_size)) return true;
    show(WINDOW_PROMPT);
  }
}

// Any answer that is not a number leaves the count at 0: no pass runs.
bool ask_pass_count(RunSettings& settings, AnswerReader& answers) {
  show("\n Enter the number of passes \n");
  return read_integer(answers, settings.pass_count) != Answer::ended;
}

void close_if_open(int file) {
  if (file >= 0) close(file);
}

// Closes both result files as soon as they are written, not at exit: some
// file systems report a failed write only on closing, and that must show
// before the closing lines, not after the key press.
ResultWrite close_results(ResultWrite written, RunSettings& settings) {
  const bool filtered_closed = close(settings.filtered_file) == 0;
  const bool residual_closed = close(settings.residual_file) == 0;
  settings.filtered_file = settings.residual_file = -1;
  if (written == ResultWrite::complete && !filtered_closed) return ResultWrite::filtered_failed;
  if (written == ResultWrite::complete && !residual_closed) return ResultWrite::residual_failed;
  return written;
}

// The run's data lives in static storage: the tool allocates nothing.
TimeHistory run_history;
RunSettings run_settings;
AnswerReader run_answers;

}  // namespace

bool ask_run_settings(RunSettings& settings, AnswerReader& answers) {
  show("\n The base input file must contain two columns: \n\n");
  show(" time(sec)  amplitude    \n\n");
  show(" \n An error message will occur if the file does not exist.\n");
  settings.input_file = settings.filtered_file = settings.residual_file = -1;
  return ask_input_file(settings, answers) &&
         ask_result_file(settings.filtered_name, settings.filtered_file, settings.input_file, -1,
                         answers) &&
         ask_result_file(settings.residual_name, settings.residual_file, settings.input_file,
                         settings.filtered_file, answers) &&
         ask_window_size(settings, answers) && ask_pass_count(settings, answers);
}

int run_tarnvale() {
  // A result file that is a pipe whose reader has gone must fail a write,
  // not end the process without a word.
  std::signal(SIGPIPE, SIG_IGN);
  show_banner();
  start_answers(run_answers, STDIN_FILENO);
  if (!ask_run_settings(run_settings, run_answers)) {
    show("\n Standard input ended before every answer was given. \n");
    close_if_open(run_settings.input_file);
    close_if_open(run_settings.filtered_file);
    close_if_open(run_settings.residual_file);
    return EXIT_INPUT_ENDED;
  }

  read_time_history(run_history, run_settings.input_file);
  run_settings.input_file = -1;
  run_settings.k = static_cast<std::int32_t>((run_settings.window_size - 1) * 0.5);
  std::printf("\n k=%ld  last=%ld\n", static_cast<long>(run_settings.k),
              static_cast<long>(run_history.last));
  std::fflush(stdout);
  // Each line is written as soon as the filter has finished its sample, so
  // that formatting numbers overlaps the filter's chains of additions.
  begin_results(run_history, run_settings.filtered_file, run_settings.residual_file);
  apply_mean_filter(run_history.amplitude, run_history.last, run_settings.k,
                    run_settings.pass_count, write_result_line);

  int status = EXIT_COMPLETED;
  switch (close_results(end_results(), run_settings)) {
    case ResultWrite::complete:
      show("\n Calculation complete. \n");
      break;
    case ResultWrite::filtered_failed:
      show_name("\n Failed to write file: %s \n", run_settings.filtered_name);
      status = EXIT_WRITE_FAILED;
      break;
    case ResultWrite::residual_failed:
      show_name("\n Failed to write file: %s \n", run_settings.residual_name);
      status = EXIT_WRITE_FAILED;
      break;
  }
  show("\n Press any key to exit.\n");
  wait_for_key();
  return status;
}
