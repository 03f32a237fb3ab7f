#include "bar_pointer/CycleLayout.h"

namespace bar_pointer {

void CycleLayout::stateOf(int index, int& cycle, int& position) const {
  int lo = 0, hi = space_.cycles() - 1;
  while (lo < hi) {  // last cycle whose offset is <= index
    const int mid = (lo + hi + 1) / 2;
    if (space_.offset(mid) <= index) lo = mid; else hi = mid - 1;
  }
  cycle = lo;
  const int n = space_.length(lo);
  position = (index - space_.offset(lo) - head_[lo] + n) % n;
}

}  // namespace bar_pointer
