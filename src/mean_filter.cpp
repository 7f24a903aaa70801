#include "mean_filter.h"

#include <algorithm>

void apply_mean_filter(double* amplitude, std::int32_t last, std::int32_t k,
                       std::int32_t pass_count) {
  for (std::int32_t pass = 0; pass < pass_count; ++pass) {
    for (std::int32_t i = 0; i <= last; ++i) {
      // Starting from 0.0 (not from the first term) matters: it turns a
      // window of negative zeros into positive zero.
      double sum = 0.0;
      const std::int32_t first = std::max(i - k, 0);
      const std::int32_t final = std::min(i + k, last);
      for (std::int32_t j = first; j <= final; ++j) sum += amplitude[j];
      amplitude[i] = sum / static_cast<double>(final - first + 1);
    }
  }
}
