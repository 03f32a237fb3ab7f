#include "bar_pointer/CycleLayout.h"

#include <algorithm>

namespace bar_pointer {

void CycleLayout::stateOf(int index, int& tempo, int& position) const {
  int lo = 0, hi = space_.tempi() - 1;
  while (lo < hi) {  // last tempo whose offset is <= index
    const int mid = (lo + hi + 1) / 2;
    if (space_.offset(mid) <= index) lo = mid; else hi = mid - 1;
  }
  tempo = lo;
  const int n = space_.interval(lo);
  position = (index - space_.offset(lo) - head_[lo] + n) % n;
}

double beatLikelihoodRatio(double o, double observation_lambda, double min_onset) {
  o = std::min(std::max(o, min_onset), 1.0 - min_onset);
  return o * (observation_lambda - 1.0) / (1.0 - o);
}

}  // namespace bar_pointer
