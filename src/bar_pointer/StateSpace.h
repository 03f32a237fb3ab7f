// The bar-pointer state space, beat level: for every whole beat interval
// (tempo) a cycle of positions 0 .. interval - 1 that advance by one each
// frame. The tempo changes only where a cycle wraps to position 0.
#pragma once

#include <cstdint>
#include <vector>

#include "bar_pointer/Settings.h"

namespace bar_pointer {

// Longest beat interval, in frames: 20 s at 100 frames per second.
constexpr int kMaxInterval = 2000;

struct Intervals {
  int shortest = 0;
  int longest = 0;
};

// The intervals covering max_bpm .. min_bpm at the settings' frame rate,
// each end rounded to the nearest frame.
Intervals intervalRange(const Settings& s);

class StateSpace {
 public:
  // One transition into a tempo's position 0: from tempo `from`, weight `p`.
  struct Arc {
    int from;
    double p;
  };

  explicit StateSpace(const Settings& s);

  int tempi() const { return int(interval_.size()); }
  int states() const { return states_; }
  int interval(int tempo) const { return interval_[tempo]; }
  // The tempo of a beat interval, -1 outside the range.
  int tempoOf(int interval) const {
    const int t = interval - interval_.front();
    return t >= 0 && t < tempi() ? t : -1;
  }
  // Index of the first state of a tempo in the flat state arrays.
  int offset(int tempo) const { return offset_[tempo]; }
  // Transitions into position 0 of `to`; the weights out of each tempo sum to 1.
  const std::vector<Arc>& arcsInto(int to) const { return into_[to]; }
  int beatRegion() const { return beat_region_; }

 private:
  std::vector<int> interval_;
  std::vector<int> offset_;
  std::vector<std::vector<Arc>> into_;
  int states_ = 0;
  int beat_region_ = 1;
};

}  // namespace bar_pointer
