#pragma once

#include "time_history.h"

// Writes the filtered series and the residual, one line per sample:
// time, blank-tab-blank, value, blank, carriage return and line feed.

enum class ResultWrite { complete, filtered_failed, residual_failed };

// Writes every sample to both descriptors (filtered line first, then the
// residual line) through buffers of its own, and hands every byte to the
// system before it returns; leaves both open. Reports the first file whose
// write failed, so a full disk is never taken for success.
ResultWrite write_results(const TimeHistory& history, int filtered_file, int residual_file);

// The same in steps, so that each line can be written as soon as the filter
// has finished its sample: begin_results, then write_result_line for every
// sample in ascending order (it fits the filter's SampleFinished), then
// end_results, which hands every byte to the system and reports as above.
void begin_results(const TimeHistory& history, int filtered_file, int residual_file);
void write_result_line(std::int32_t i);
ResultWrite end_results();
