// The tracker's confidence: the information its predictions carried about
// the onsets of the last few seconds (ForwardFilter::lastGain summed over a
// window), mapped to [0, 1). A posterior that is sure of itself but predicts
// nothing, as in noise, gains nothing; one that keeps predicting the onsets
// gains steadily.
#pragma once

#include <cstddef>
#include <vector>

namespace bar_pointer {

class EvidenceWindow {
 public:
  // `frames`: length of the window; `half`: the gain (nats) that maps to 0.5.
  EvidenceWindow(std::size_t frames, double half) : gains_(frames > 0 ? frames : 1, 0.0), half_(half) {}

  void push(double gain) {
    double& slot = gains_[count_ % gains_.size()];
    sum_ += gain - slot;
    slot = gain;
    // Summed afresh once per window, so rounding cannot drift over hours.
    if (++count_ % gains_.size() == 0) {
      sum_ = 0.0;
      for (double g : gains_) sum_ += g;
    }
  }
  double confidence() const { return sum_ > 0.0 ? sum_ / (sum_ + half_) : 0.0; }
  double sum() const { return sum_; }

 private:
  std::vector<double> gains_;
  std::size_t count_ = 0;
  double sum_ = 0.0;
  double half_;
};

}  // namespace bar_pointer
