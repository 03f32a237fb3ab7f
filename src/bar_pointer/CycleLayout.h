// Where each (cycle, position) state lives in a flat array. Each cycle's
// positions form a ring: advancing every position by one frame moves the
// ring's head instead of the values, and the slot that held the last
// position becomes position 0.
#pragma once

#include <vector>

#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

class CycleLayout {
 public:
  explicit CycleLayout(const StateSpace& space) : space_(space), head_(space.cycles(), 0) {}

  int slot(int cycle, int position) const { return space_.offset(cycle) + ringSlot(cycle, position); }
  // The slot within the cycle's ring, from 0.
  int ringSlot(int cycle, int position) const {
    const int i = head_[cycle] + position;
    return i < space_.length(cycle) ? i : i - space_.length(cycle);
  }
  // Every position moves on by one; the old last position's slot becomes position 0.
  void advance() {
    for (int c = 0; c < space_.cycles(); ++c)
      head_[c] = head_[c] == 0 ? space_.length(c) - 1 : head_[c] - 1;
  }
  // The slot of position 0, from the cycle's offset: positions 0 .. n - 1
  // are slots head .. n - 1, then 0 .. head - 1.
  int head(int cycle) const { return head_[cycle]; }
  // The (cycle, position) of a flat index.
  void stateOf(int index, int& cycle, int& position) const;

  const StateSpace& space() const { return space_; }

 private:
  const StateSpace& space_;
  std::vector<int> head_;
};

}  // namespace bar_pointer
