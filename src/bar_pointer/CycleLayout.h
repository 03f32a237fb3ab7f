// Where each (tempo, position) state lives in a flat array. Each tempo's
// positions form a ring: advancing every position by one frame moves the
// ring's head instead of the values, and the slot that held the last
// position becomes position 0.
#pragma once

#include <vector>

#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

class CycleLayout {
 public:
  explicit CycleLayout(const StateSpace& space) : space_(space), head_(space.tempi(), 0) {}

  int slot(int tempo, int position) const { return space_.offset(tempo) + ringSlot(tempo, position); }
  // The slot within the tempo's ring, from 0.
  int ringSlot(int tempo, int position) const {
    const int i = head_[tempo] + position;
    return i < space_.interval(tempo) ? i : i - space_.interval(tempo);
  }
  // Every position moves on by one; the old last position's slot becomes position 0.
  void advance() {
    for (int t = 0; t < space_.tempi(); ++t)
      head_[t] = head_[t] == 0 ? space_.interval(t) - 1 : head_[t] - 1;
  }
  // The slot of position 0, from the tempo's offset: positions 0 .. n - 1
  // are slots head .. n - 1, then 0 .. head - 1.
  int head(int tempo) const { return head_[tempo]; }
  // The (tempo, position) of a flat index.
  void stateOf(int index, int& tempo, int& position) const;

  const StateSpace& space() const { return space_; }

 private:
  const StateSpace& space_;
  std::vector<int> head_;
};

// Likelihood ratio of a beat state to any other for onset feature `o`
// (finite), with o kept within [min_onset, 1 - min_onset].
double beatLikelihoodRatio(double o, double observation_lambda, double min_onset);

}  // namespace bar_pointer
