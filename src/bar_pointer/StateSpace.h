// The bar-pointer state space. Beats only: for every whole beat interval
// (tempo) a cycle of positions 0 .. interval - 1 that advance by one each
// frame, the beat at position 0. With bars: a cycle for every pair of bar
// length M (a metre) and tempo, of M * interval positions, beat k of the bar
// (from 0) at position k * interval, the downbeat at 0. Either way the tempo
// (and the metre) changes only where a cycle wraps to position 0.
#pragma once

#include <cstdint>
#include <vector>

#include "bar_pointer/Settings.h"

namespace bar_pointer {

// Longest beat interval, in frames: 20 s at 100 frames per second.
constexpr int kMaxInterval = 2000;
// Most beats in a bar.
constexpr int kMaxBarBeats = 8;

struct Intervals {
  int shortest = 0;
  int longest = 0;
};

// The intervals covering max_bpm .. min_bpm at the settings' frame rate,
// each end rounded to the nearest frame.
Intervals intervalRange(const Settings& s);

class StateSpace {
 public:
  // One tempo change at a wrap: from tempo `from`, weight `p`.
  struct Arc {
    int from;
    double p;
  };

  explicit StateSpace(const Settings& s);

  // Tempi: the beat intervals, shortest first, one frame apart.
  int tempi() const { return int(into_.size()); }
  int tempoInterval(int tempo) const { return shortest_ + tempo; }
  // The tempo of a beat interval, -1 outside the range.
  int tempoOf(int interval) const {
    const int t = interval - shortest_;
    return t >= 0 && t < tempi() ? t : -1;
  }
  // Tempo changes into `to` at a wrap; the weights out of each tempo sum to 1.
  const std::vector<Arc>& arcsInto(int to) const { return into_[to]; }

  // Metres: the bar lengths, fewest beats first; beats only is one metre of
  // a single beat without bars.
  bool hasBars() const { return has_bars_; }
  int metres() const { return int(beats_.size()); }
  int metreBeats(int metre) const { return beats_[metre]; }
  // Probability of going on in metre `to` after a bar of metre `from`.
  double metreChange(int from, int to) const {
    if (metres() == 1) return 1.0;
    return from == to ? 1.0 - metre_change_ : metre_change_ / (metres() - 1);
  }

  // Cycles: one per metre and tempo, metre by metre, each metre's tempi in
  // order (beats only, cycle and tempo are the same).
  int cycles() const { return metres() * tempi(); }
  int cycle(int metre, int tempo) const { return metre * tempi() + tempo; }
  int metreOf(int cycle) const { return cycle / tempi(); }
  int tempo(int cycle) const { return cycle % tempi(); }
  int interval(int cycle) const { return interval_[cycle]; }
  int beats(int cycle) const { return metreBeats(metreOf(cycle)); }
  int length(int cycle) const { return length_[cycle]; }
  // Index of the first state of a cycle in the flat state arrays.
  int offset(int cycle) const { return offset_[cycle]; }
  int states() const { return states_; }
  int beatRegion() const { return beat_region_; }

 private:
  int shortest_ = 0;
  std::vector<std::vector<Arc>> into_;
  std::vector<int> beats_;
  double metre_change_ = 0.0;
  bool has_bars_ = false;
  std::vector<int> interval_;
  std::vector<int> length_;
  std::vector<int> offset_;
  int states_ = 0;
  int beat_region_ = 1;
};

}  // namespace bar_pointer
