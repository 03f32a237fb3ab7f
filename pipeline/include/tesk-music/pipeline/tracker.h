// Tracks the beats of one stream: interleaved float samples in, in blocks
// of any size, beats out as the tracker announces them. The stream is
// resampled to the analysis rate, cut into frames, turned into spectra and
// run through the plug-in's tracker node; beats after silence, and those
// before the tracker first locked on, are dropped.
// The same samples and settings give the same beats however the blocks are
// cut. Not thread-safe; separate trackers share nothing but the plug-in.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "tesk-music/pipeline/settings.h"

namespace tesk_pipeline {

struct Beat {
  int64_t frame = 0;        // analysis frame on which the beat was announced (or decoded)
  double time = 0.0;        // seconds from the start of the stream, plus the offset
  bool reliable = false;    // the tracker's reliability reached the threshold
  // BPM: the tracker's tempo at the beat, for a discarded beat too
  // (`reliable` says whether to trust it), fitted through the times of the
  // beats around it where the node's own is whole frames (stpm, offline)
  // or not told (a discarded beat); NaN only while there is none yet (the
  // stream's first beat).
  float tempo = std::numeric_limits<float>::quiet_NaN();
  float confidence = 0.0f;  // the tracker's reliability on that frame
  // Where the beat falls in its bar, 1 = the downbeat; 0 where no bar is
  // known (always with the stpm tracker).
  int beat_in_bar = 0;
  // The node's onset, stpm and chroma vectors of that frame; with
  // Settings::vectors only.
  std::vector<float> onset, stpm, chroma;
};

class Tracker {
 public:
  // Loads the plug-in (once per process) and builds the network for a
  // stream of `sample_rate` Hz and `channels` channels. Throws
  // SettingsError, PluginError or NodeError. The node's console lines, in
  // every call and the destructor, go where Settings::console says.
  Tracker(const Settings& settings, int sample_rate, int channels);
  ~Tracker();
  Tracker(const Tracker&) = delete;
  Tracker& operator=(const Tracker&) = delete;

  // What the stream is analysed with (rate, window, advance, ...).
  const TrackerSettings& settings() const;

  // `frames` frames of `channels` interleaved samples in [-1, 1]. Returns
  // the beats announced on the frames they completed (offline: those the
  // decoder has settled), in time order. Throws NodeError, or
  // std::invalid_argument from the offline decoder.
  std::vector<Beat> process(const float* samples, int64_t frames);
  // With Settings::cancel_reference: as above, `reference` holding `frames`
  // mono samples at the stream's rate, aligned sample for sample with
  // `samples`; what of it the input holds is cancelled before tracking.
  // The two-argument form then takes the reference as silence. Throws
  // std::logic_error without Settings::cancel_reference.
  std::vector<Beat> process(const float* samples, const float* reference, int64_t frames);
  // The stream has ended: the last frames (and reference), padded with
  // zeros, are analysed and, offline, the rest decoded. Nothing may be processed after it.
  std::vector<Beat> finish();

  // Analysis frames run so far.
  int64_t frames() const;

  // With Settings::frame_onsets: the onset strength of each frame analysed
  // since the last call (the sum of the node's onset vector; frame k's
  // window starts at sample k * advance at the analysis rate), oldest first.
  std::vector<float> takeOnsets();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tesk_pipeline
