// The tracker's onset feature, causal, one value in [0, 1] per frame: the
// summed positive rise of log-compressed filterbank bands over the previous
// frame (maximum-filtered across neighbouring bands), less an adaptive
// floor, normalised by its running maximum.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "bar_pointer/LogFilterbank.h"
#include "bar_pointer/Settings.h"

namespace bar_pointer {

class OnsetFeature {
 public:
  explicit OnsetFeature(const Settings& s);

  // `magnitudes` holds Settings::bins() finite, non-negative values; throws
  // std::invalid_argument otherwise, before changing any state.
  double process(const double* magnitudes, std::size_t count);

  // The last frame's rise before flooring and normalising.
  double lastRise() const { return last_rise_; }
  int bands() const { return bank_.bands(); }

 private:
  double floorOf(double rise);
  double normalise(double value);

  Settings s_;
  LogFilterbank bank_;
  std::vector<double> bands_;
  std::vector<double> emphasis_;  // weight of each band's rise
  std::vector<std::vector<double>> past_;  // the last diff_frames band vectors
  int64_t frame_ = 0;
  double last_rise_ = 0.0;

  // The rises of the floor window, by age and in order.
  std::vector<double> rise_history_;
  std::size_t rise_count_ = 0;
  std::vector<double> sorted_;  // the same rises, in increasing order

  // Running maximum over the normalisation window: (frame, value), values
  // falling from front to back.
  std::deque<std::pair<int64_t, double>> maxima_;
  int64_t norm_frames_;
};

}  // namespace bar_pointer
