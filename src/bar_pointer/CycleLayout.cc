#include "bar_pointer/CycleLayout.h"

#include <algorithm>
#include <cmath>

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

double beatLikelihoodRatio(double o, double observation_lambda) {
  // Not NaN-safe by itself: features reaching here are checked finite.
  constexpr double kEdge = 1e-3;
  o = std::min(std::max(o, kEdge), 1.0 - kEdge);
  return o * (observation_lambda - 1.0) / (1.0 - o);
}

}  // namespace bar_pointer
