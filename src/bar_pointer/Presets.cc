#include "bar_pointer/Presets.h"

#include <algorithm>
#include <cmath>

namespace bar_pointer {

Settings prototypeModel(const Settings& framing) {
  Settings s;
  s.sample_rate = framing.sample_rate;
  s.window_size = framing.window_size;
  s.hop_size = framing.hop_size;

  s.min_frequency = 30.0;
  s.max_frequency = 16000.0;
  s.bands_per_octave = 12;
  s.band_reference = 30.0;
  s.unit_sum_filters = false;
  s.snap_ties_to_even = true;
  // The prototype divides its magnitudes by half its window's sum, so that
  // a full-scale sine peaks near 1; a periodic Hann of N sums to N / 2.
  s.magnitude_scale = 4.0 / framing.window_size;
  s.compression = 10.0;
  s.max_filter_bands = 3;
  s.diff_frames = 1;
  s.high_emphasis = 0.0;
  s.floor_scale = 0.0;
  s.normalisation_seconds = 3.0;

  // 55-215 BPM, its ends taken outwards to whole intervals (floor of the
  // shortest, at least 2, and ceiling of the longest) where intervalRange
  // rounds: given as the tempi of those intervals, they round to themselves.
  const double beat_frames = 60.0 * s.framesPerSecond();
  s.max_bpm = beat_frames / std::max(std::floor(beat_frames / 215.0), 2.0);
  s.min_bpm = beat_frames / std::ceil(beat_frames / 55.0);
  s.transition_lambda = 300.0;
  // It drops transitions below 1e-12 before normalising.
  s.transition_cutoff = -std::log(1e-12);
  s.tempo_jump_probability = 0.0;
  s.observation_lambda = 16.0;
  s.beat_region = 3;
  s.min_onset = 1e-6;

  s.beat_decision = Settings::BeatDecision::kBestStateWrap;
  s.min_beat_spacing = 0.6;
  s.announce_ahead = 0;
  return s;
}

Settings learnedModel() {
  Settings s;
  s.activation = Settings::Activation::kLearned;
  s.bar_lengths = {2, 3, 4};
  // The network's activations are sharper than the flux feature: a beat
  // can be dearer (1 / 15 of a non-beat per frame of its region) without
  // losing beats, and the tempo twice the beat explains fewer of the
  // activations between beats.
  s.observation_lambda = 16.0;
  return s;
}

}  // namespace bar_pointer
