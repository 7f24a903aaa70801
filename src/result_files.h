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
