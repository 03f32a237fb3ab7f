// Online inference in the bar-pointer model: the posterior over (tempo,
// position) given the onset features so far, normalised every frame.
#pragma once

#include <utility>
#include <vector>

#include "bar_pointer/CycleLayout.h"
#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

class ForwardFilter {
 public:
  // At every wrap the tempo may also jump, with probability
  // `tempo_jump_probability`, to any tempo alike (see Settings).
  ForwardFilter(const StateSpace& space, double observation_lambda, double min_onset,
                double tempo_jump_probability);

  // One frame: move every state on, then weigh it by the onset feature `o`
  // (finite, in [0, 1]).
  void step(double o);

  struct State {
    int tempo = 0;
    int position = 0;
  };
  // The most probable state after the last step (the first of equals).
  State best() const { return best_; }
  double probability(int tempo, int position) const { return alpha_[slot(tempo, position)]; }
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
  int slot(int tempo, int position) const { return ring_at_[tempo] + layout_.ringSlot(tempo, position); }
  void restart();
  void enterBeats();
  // Sums each tempo's mass into mass_ and its highest value into top_;
  // returns the total.
  double sumTempi();
  int firstOfHighest() const;
  void normalise(double scale);

  const StateSpace& space_;
  CycleLayout layout_;
  double observation_lambda_;
  double min_onset_;
  double stay_;  // 1 - the jump probability
  double jump_;  // the jump probability into each tempo
  // Each tempo's ring of positions followed by copies of its first slots,
  // so that a short run of slots read backwards across the ring's start is
  // contiguous; a few slots before the first ring, read but never used.
  std::vector<double> alpha_;
  std::vector<int> ring_at_;
  std::vector<double> wrap_;
  std::vector<double> entering_;
  std::vector<std::pair<int, int>> reach_;  // per origin, the tempi its arcs reach
  std::vector<double> weights_;             // per origin, over its reach
  std::vector<int> weights_at_;
  mutable std::vector<double> until_;
  std::vector<double> mass_;
  std::vector<double> top_;
  State best_;
  double gain_ = 0.0;
};

}  // namespace bar_pointer
