// Offline inference in the bar-pointer model: the single most probable
// state sequence (Viterbi), beats where it passes a beat's position (with
// bars, a whole number of beat intervals into the bar). Features are pushed
// one frame at a time; back-pointers are kept only for the frames not yet
// final, so memory does not grow with the input (see
// Settings::offline_segment_seconds).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bar_pointer/CycleLayout.h"
#include "bar_pointer/EvidenceWindow.h"
#include "bar_pointer/ForwardFilter.h"
#include "bar_pointer/Observation.h"
#include "bar_pointer/Settings.h"
#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

struct DecodedBeat {
  int64_t frame = 0;
  int interval = 0;          // frames, on the path at this beat
  double tempo = 0.0;        // BPM
  double confidence = 0.0;   // lock on the beat times the beat's own onset peak (Settings)
  int beat_in_bar = 0;       // 1 = the downbeat; 0 where no bar is decoded
};

class ViterbiDecoder {
 public:
  // Throws std::invalid_argument for settings out of range.
  explicit ViterbiDecoder(const Settings& s);

  // One frame's onset feature, finite and in [0, 1] (else
  // std::invalid_argument, changing nothing). Beats only: with bars it
  // throws std::logic_error, as an onset feature shows no downbeat.
  void push(double onset);
  // One frame's beat and downbeat activations, finite, each in [0, 1] and
  // summing to at most 1 + 1e-6 (else std::invalid_argument, changing
  // nothing); beats only, the same as push(beat + downbeat).
  void pushActivations(double beat, double downbeat);
  // Decodes what is still open; no push may follow.
  void finish();
  // The beats that became final since the last call, in time order.
  std::vector<DecodedBeat> takeBeats();

  int64_t frames() const { return frame_; }
  // Bytes held for back-pointers and per-frame values now.
  std::size_t pendingBytes() const;

 private:
  // The Viterbi step of one frame whose beat states weigh `ratio`.
  void advance(const BarLikelihoodRatios& ratio);
  void keep(double onset);
  void traceBack(int64_t final_before);
  void rebase();
  double confidenceAt(int64_t frame) const;

  Settings s_;
  std::unique_ptr<StateSpace> space_;
  // With bars, the beats alone, for the confidences (see the constructor).
  std::unique_ptr<StateSpace> beat_space_;
  CycleLayout layout_;
  ForwardFilter filter_;
  EvidenceWindow evidence_;
  std::vector<double> score_;      // log scores, up to a common constant
  std::vector<double> wrap_;
  std::vector<double> log_arc_;    // per tempo, in arcsInto order
  std::vector<int> arc_at_;
  std::vector<double> log_metre_;  // per metre, per metre it changes to
  std::vector<double> kept_;       // per cycle: the best score entering within its metre
  std::vector<int> kept_from_;     // per cycle: where that came from
  // Per frame since base_, per cycle: where position 0 came from. At most
  // kMaxBarBeats * kMaxInterval cycles, so 16 bits hold any.
  std::vector<uint16_t> from_;
  std::vector<float> lock_;        // per frame since base_: EvidenceWindow::confidence
  std::vector<float> onset_;       // per frame since base_
  int64_t base_ = 0;               // first frame whose back-pointers are held
  int64_t frame_ = 0;
  int64_t segment_frames_;
  int64_t lookahead_frames_;
  int64_t last_final_ = -1;
  bool finished_ = false;
  std::vector<DecodedBeat> ready_;
};

}  // namespace bar_pointer
