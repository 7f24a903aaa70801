#pragma once

#include <string>
#include <vector>

// The input every benchmark works on: a noisy sine of 2,000,000 samples,
// sampled every 1e-4 s, the size of the largest file the tool loads.

inline constexpr int SIGNAL_SAMPLES = 2'000'000;
inline constexpr double SIGNAL_TIME_STEP = 1e-4;

// The amplitudes: a sine plus normal noise, the same on every call.
std::vector<double> signal_amplitudes();

// The signal as the tool writes its result files, one line per sample, as
// "1.2345000e-001 \t -4.56789e-001 \r\n": times with 8 significant digits,
// amplitudes with 6, three exponent digits. About 65 MB.
std::string signal_text();
