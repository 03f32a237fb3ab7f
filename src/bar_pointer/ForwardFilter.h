// Online inference in the bar-pointer model: the posterior over (cycle,
// position) given the onset features or activations so far, normalised
// every frame.
#pragma once

#include <utility>
#include <vector>

#include "bar_pointer/CycleLayout.h"
#include "bar_pointer/Observation.h"
#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

class ForwardFilter {
 public:
  // At every wrap the cycle may also jump, with probability
  // `tempo_jump_probability`, to any cycle alike (see Settings).
  ForwardFilter(const StateSpace& space, double observation_lambda, double min_onset,
                double tempo_jump_probability);

  // One frame: move every state on, then weigh it by the onset feature `o`
  // (finite, in [0, 1]), every beat of a bar alike.
  void step(double o);
  // One frame of activations (finite, each in [0, 1]): with bars, the
  // downbeat weighed by `downbeat` and the other beats by `beat`; beats
  // only, as the onset feature beat + downbeat.
  void step(double beat, double downbeat);

  struct State {
    int cycle = 0;
    int position = 0;
  };
  // The most probable state after the last step (the first of equals).
  State best() const { return best_; }
  double probability(int cycle, int position) const { return alpha_[slot(cycle, position)]; }
  // How much better than chance the last step's prediction explained its
  // observation, in nats: the log ratio of the observation's likelihood
  // under the predicted distribution to its likelihood at a random phase of
  // the best cycle. Steadily positive while the tracker predicts the beats.
  double lastGain() const { return gain_; }
  // The most probable number of frames until the next beat (a position
  // that is a whole number of beat intervals), all cycles together (0: on
  // this frame).
  int framesToNextBeat() const;
  // The most probable number (1 .. beats per bar) of the beat nearest the
  // frame `ahead` frames from now, all cycles together; 1 beats only.
  int beatInBar(int ahead) const;
  // Posterior probability of each tempo (StateSpace order), over all metres.
  const std::vector<double>& tempoPosterior() const {
    return space_.hasBars() ? tempo_mass_ : mass_;
  }

 private:
  int slot(int cycle, int position) const { return ring_at_[cycle] + layout_.ringSlot(cycle, position); }
  void restart();
  // Moves every state on and weighs the beat states by `ratio`.
  void step(const BarLikelihoodRatios& ratio);
  void enterCycles();
  // Sums each cycle's mass into mass_ and its highest value into top_;
  // returns the total.
  double sumCycles();
  int firstOfHighest() const;
  void normalise(double scale);

  const StateSpace& space_;
  CycleLayout layout_;
  double observation_lambda_;
  double min_onset_;
  double stay_;  // 1 - the jump probability
  double jump_;  // the jump probability into each cycle
  // Each cycle's ring of positions followed by copies of its first slots,
  // so that a short run of slots read backwards across the ring's start is
  // contiguous; a few slots before the first ring, read but never used.
  std::vector<double> alpha_;
  std::vector<int> ring_at_;
  std::vector<double> wrap_;
  std::vector<double> entering_;  // per cycle, and one more
  std::vector<double> changed_;   // per cycle, after metre changes
  std::vector<std::pair<int, int>> reach_;  // per origin tempo, the tempi its arcs reach
  std::vector<double> weights_;             // per origin tempo, over its reach
  std::vector<int> weights_at_;
  mutable std::vector<double> until_;
  std::vector<double> mass_;
  std::vector<double> tempo_mass_;
  std::vector<double> top_;
  State best_;
  double gain_ = 0.0;
};

}  // namespace bar_pointer
