#pragma once

#include <cstdint>

// The tool's calculation: a centred sliding-window mean, applied in place.
// Each new value replaces the old one at once, so later windows of the same
// pass already see it; windows are cut at both ends of the data and every
// window is summed afresh from zero in ascending index order. These rules
// fix every bit of the result.

// Told of each sample, in ascending order, as soon as it holds its final
// value, so that writing it out can overlap the filter's chains of
// additions instead of waiting for the whole array.
using SampleFinished = void (*)(std::int32_t i);

// Runs `pass_count` passes (none when it is below 1) of the mean over
// 2k + 1 samples (k from 0 to 15) on amplitude[0..last], and hands every
// sample to `finished` (when given) once its last pass is done with it.
void apply_mean_filter(double* amplitude, std::int32_t last, std::int32_t k,
                       std::int32_t pass_count, SampleFinished finished = nullptr);

// The same passes as the plain loop, one whole pass after the other: the
// reference that the fast sweep is checked and measured against.
void apply_mean_filter_pass_by_pass(double* amplitude, std::int32_t last, std::int32_t k,
                                    std::int32_t pass_count);
