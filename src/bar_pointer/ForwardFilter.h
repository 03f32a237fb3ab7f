// Online inference in the bar-pointer model: the posterior over (tempo,
// position) given the onset features so far, normalised every frame.
#pragma once

#include <vector>

#include "bar_pointer/CycleLayout.h"
#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

class ForwardFilter {
 public:
  ForwardFilter(const StateSpace& space, double observation_lambda, double min_onset);

  // One frame: move every state on, then weigh it by the onset feature `o`
  // (finite, in [0, 1]).
  void step(double o);

  struct State {
    int tempo = 0;
    int position = 0;
  };
  // The most probable state after the last step (the first of equals).
  State best() const { return best_; }
  double probability(int tempo, int position) const { return alpha_[layout_.slot(tempo, position)]; }
  // How much better than chance the last step's prediction explained its
  // onset feature, in nats: the log ratio of the onset's likelihood under the
  // predicted distribution to its likelihood at a random phase of the best
  // tempo. Steadily positive while the tracker predicts the onsets.
  double lastGain() const { return gain_; }
  // The most probable number of frames until the next beat (position 0),
  // all tempi together (0: on this frame).
  int framesToNextBeat() const;
  // Posterior probability of each tempo (StateSpace order).
  const std::vector<double>& tempoPosterior() const { return mass_; }

 private:
  void restart();

  const StateSpace& space_;
  CycleLayout layout_;
  double observation_lambda_;
  double min_onset_;
  std::vector<double> alpha_;
  std::vector<double> wrap_;
  mutable std::vector<double> until_;
  std::vector<double> mass_;
  State best_;
  double gain_ = 0.0;
};

}  // namespace bar_pointer
