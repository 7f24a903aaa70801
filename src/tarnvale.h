#pragma once

#include <cstdint>

#include "answer_reader.h"

// The run driver: the banner, the dialogue that fills RunSettings, then
// loading, filtering and writing, the closing lines and the final key press.

inline constexpr int NAME_BUFFER_SIZE = 260;
inline constexpr std::int32_t MAX_WINDOW = 31;

// Exit statuses. A completed run ends with 1; the other two mark runs that
// could not complete, so a script can tell them apart.
inline constexpr int EXIT_COMPLETED = 1;
inline constexpr int EXIT_INPUT_ENDED = 2;   // standard input ended before the dialogue did
inline constexpr int EXIT_WRITE_FAILED = 3;  // a result file could not be written

struct RunSettings {
  char input_name[NAME_BUFFER_SIZE];
  char filtered_name[NAME_BUFFER_SIZE];
  char residual_name[NAME_BUFFER_SIZE];
  int input_file;     // open for reading until loading closes it
  int filtered_file;  // created empty by the dialogue
  int residual_file;
  std::int32_t window_size;
  std::int32_t pass_count;
  std::int32_t k;
};

// Asks for the input file, the two result files, the window size and the
// number of passes; opens the input and creates both result files. Returns
// false when standard input ended before every answer was given.
bool ask_run_settings(RunSettings& settings, AnswerReader& answers);

// Runs the tool once, from banner to key press, and returns the exit status.
int run_tarnvale();
