// The bar-pointer beat tracker, online: one magnitude spectrum (or a
// learned network's activations) in per frame, the onset feature, the
// forward filter, and a beat announced when the most probable state reaches
// the beat (or `announce_ahead` frames before it); see
// Settings::beat_decision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "activation/LearnedActivation.h"
#include "bar_pointer/EvidenceWindow.h"
#include "bar_pointer/ForwardFilter.h"
#include "bar_pointer/OnsetFeature.h"
#include "bar_pointer/Settings.h"
#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

struct FrameResult {
  int64_t frame = 0;         // index of the analysed frame, from 0
  double onset = 0.0;        // the frame's onset feature (or beat + downbeat), in [0, 1]
  // The learned network's beat (not a downbeat) and downbeat activations of
  // the frame; 0 with the flux feature.
  double beat_activation = 0.0;
  double downbeat_activation = 0.0;
  bool beat = false;         // a beat is announced on this frame
  int64_t beat_frame = -1;   // the frame the announced beat falls on (>= frame)
  int interval = 0;          // current beat interval, frames
  // Current tempo, BPM: the posterior mean interval around the best one,
  // smoothed over about a second (whole frames alone are too coarse at fast
  // tempi: 33 frames is 181.8 BPM, 32 is 187.5).
  double tempo = 0.0;
  // In [0, 1): of the next predicted beat (the announced one on a beat
  // frame): the tracker's lock on the beat times the beat's accent (see
  // Settings::accent_frames).
  double confidence = 0.0;
  // Where the announced beat falls in its bar, 1 = the downbeat (the
  // posterior's most probable beat of the bar on that frame); 0 where the
  // tracker follows beats only and knows no bar.
  int beat_in_bar = 0;
};

class OnlineTracker {
 public:
  // Throws std::invalid_argument for settings out of range.
  explicit OnlineTracker(const Settings& s);

  // One frame's magnitudes (Settings::bins() finite, non-negative values);
  // throws std::invalid_argument for anything else, changing nothing. They
  // go through the onset feature, or with Activation::kLearned through the
  // learned network (processActivations), which needs spectra at 100
  // frames per second from 16 kHz up (learnedFramingProblem).
  FrameResult process(const double* magnitudes, std::size_t count);
  // One frame given by its onset feature instead of its spectrum (finite,
  // in [0, 1]); beats only, as process().
  FrameResult processOnset(double onset);
  // One frame given by a learned network's beat (not a downbeat) and
  // downbeat activations: finite, each in [0, 1], summing to at most
  // 1 + 1e-6, else std::invalid_argument, changing nothing. Beats only, the
  // same as processOnset(beat + downbeat).
  FrameResult processActivations(double beat, double downbeat);

  const Settings& settings() const { return s_; }
  const StateSpace& stateSpace() const { return *space_; }
  // Posterior probability of each beat interval, shortest first (with
  // bars, summed over the bar lengths).
  const std::vector<double>& tempoPosterior() const { return filter_.tempoPosterior(); }

 private:
  Settings s_;
  std::unique_ptr<StateSpace> space_;
  OnsetFeature feature_;
  std::unique_ptr<activation::LearnedActivation> learned_;  // with Activation::kLearned
  ForwardFilter filter_;
  EvidenceWindow evidence_;
  int64_t frame_ = 0;
  int64_t last_beat_ = -1;
  double last_phase_ = 0.0;  // of the best state, for BeatDecision::kBestStateWrap
  double smoothed_interval_ = 0.0;
  std::vector<double> onsets_;  // ring of the recent onset features, by frame

  // The beat decision and the results of a frame the filter has taken.
  FrameResult decide(double onset);
  void requireBeatsOnly() const;
  double accentOf(int64_t beat, int interval) const;

  double tempoNear(int interval);
};

}  // namespace bar_pointer
