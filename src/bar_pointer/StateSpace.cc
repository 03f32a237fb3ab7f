#include "bar_pointer/StateSpace.h"

#include <algorithm>
#include <cmath>

namespace bar_pointer {

Intervals intervalRange(const Settings& s) {
  const double fps = s.framesPerSecond();
  Intervals iv;
  const double shortest = std::round(60.0 * fps / s.max_bpm);
  const double longest = std::round(60.0 * fps / s.min_bpm);
  // Clamped so that absurd settings cannot overflow; validate() rejects them.
  iv.shortest = int(std::min(std::max(shortest, 0.0), 1e9));
  iv.longest = int(std::min(std::max(longest, 0.0), 1e9));
  return iv;
}

StateSpace::StateSpace(const Settings& s)
    : beats_(s.bar_lengths),
      metre_change_(s.metre_change_probability),
      has_bars_(!s.bar_lengths.empty()),
      beat_region_(s.beat_region) {
  // In increasing order, so that listing the same lengths differently
  // cannot change the model.
  std::sort(beats_.begin(), beats_.end());
  if (beats_.empty()) beats_.push_back(1);
  const Intervals iv = intervalRange(s);
  shortest_ = iv.shortest;
  const int n = iv.longest - iv.shortest + 1;
  for (int m = 0; m < metres(); ++m)
    for (int i = iv.shortest; i <= iv.longest; ++i) {
      offset_.push_back(states_);
      interval_.push_back(i);
      length_.push_back(beats_[m] * i);
      states_ += beats_[m] * i;
    }
  into_.assign(n, {});
  for (int from = 0; from < n; ++from) {
    const double i = tempoInterval(from);
    std::vector<double> weight(n, 0.0);
    double total = 0.0;
    for (int to = 0; to < n; ++to) {
      const double cost = s.transition_lambda * std::fabs(tempoInterval(to) / i - 1.0);
      // At e^-30 a change could never matter next to staying in double
      // precision; dropping such changes keeps the lists short.
      if (cost <= s.transition_cutoff) total += weight[to] = std::exp(-cost);
    }
    for (int to = 0; to < n; ++to)
      if (weight[to] > 0.0) into_[to].push_back({from, weight[to] / total});
  }
}

}  // namespace bar_pointer
