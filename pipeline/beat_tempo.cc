#include "beat_tempo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace tesk_pipeline {

double tempoAround(const std::deque<double>& times, size_t i, size_t before, size_t after) {
  const size_t lo = i - std::min(i, before);
  const size_t hi = std::min(times.size() - 1, i + after);
  if (hi <= lo) return std::numeric_limits<double>::quiet_NaN();
  std::vector<double> gaps;
  for (size_t k = lo; k < hi; ++k) gaps.push_back(times[k + 1] - times[k]);
  std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
  const double median = gaps[gaps.size() / 2];
  if (!(median > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  auto steady = [&](size_t k) {  // the interval from beat k to beat k + 1
    return std::fabs(times[k + 1] - times[k] - median) <= 0.15 * median;
  };
  size_t first = i, last = i;
  while (first > lo && steady(first - 1)) --first;
  while (last < hi && steady(last)) ++last;
  if (last == first) return 60.0 / median;
  const double n = double(last - first + 1), mean_x = (n - 1.0) / 2.0;
  double mean_t = 0.0;
  for (size_t k = first; k <= last; ++k) mean_t += times[k];
  mean_t /= n;
  double sxt = 0.0, sxx = 0.0;
  for (size_t k = first; k <= last; ++k) {
    const double x = double(k - first) - mean_x;
    sxt += x * (times[k] - mean_t);
    sxx += x * x;
  }
  return 60.0 * sxx / sxt;
}

}  // namespace tesk_pipeline
