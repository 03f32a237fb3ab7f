#include "bar_pointer/Settings.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <sstream>
#include <string>

#include "bar_pointer/StateSpace.h"

namespace bar_pointer {

namespace {

void require(bool ok, const char* name, const std::string& range) {
  if (!ok) throw std::invalid_argument(std::string("bar_pointer: ") + name + " must be " + range);
}

bool finite(double v) { return std::isfinite(v); }

}  // namespace

void validate(const Settings& s) {
  require(finite(s.sample_rate) && s.sample_rate >= 1000.0, "sample_rate", "at least 1000 Hz");
  require(s.window_size >= 64 && s.window_size <= (1 << 20), "window_size", "64 to 1048576");
  require(s.hop_size >= 1 && s.hop_size <= s.window_size, "hop_size", "1 to window_size");
  require(finite(s.min_frequency) && s.min_frequency > 0.0, "min_frequency", "above 0 Hz");
  require(finite(s.max_frequency) && s.max_frequency > s.min_frequency, "max_frequency",
          "above min_frequency");
  require(s.bands_per_octave >= 1 && s.bands_per_octave <= 96, "bands_per_octave", "1 to 96");
  require(finite(s.band_reference) && s.band_reference > 0.0, "band_reference", "above 0 Hz");
  require(finite(s.magnitude_scale) && s.magnitude_scale > 0.0, "magnitude_scale", "above 0");
  require(finite(s.compression) && s.compression >= 0.0, "compression", "0 or more");
  require(s.max_filter_bands >= 1 && s.max_filter_bands % 2 == 1 && s.max_filter_bands <= 15,
          "max_filter_bands", "odd, 1 to 15");
  require(s.diff_frames >= 1 && s.diff_frames <= 16, "diff_frames", "1 to 16");
  require(finite(s.high_emphasis) && std::fabs(s.high_emphasis) <= 4.0, "high_emphasis", "-4 to 4");
  require(finite(s.floor_seconds) && s.floor_seconds >= 0.0 && s.floor_seconds <= 60.0,
          "floor_seconds", "0 to 60");
  require(finite(s.floor_quantile) && s.floor_quantile >= 0.0 && s.floor_quantile <= 1.0,
          "floor_quantile", "0 to 1");
  require(finite(s.floor_scale) && s.floor_scale >= 0.0 && s.floor_scale <= 10.0, "floor_scale",
          "0 to 10");
  require(finite(s.normalisation_seconds) && s.normalisation_seconds > 0.0 &&
              s.normalisation_seconds <= 600.0,
          "normalisation_seconds", "above 0, at most 600");
  require(finite(s.min_bpm) && s.min_bpm > 0.0, "min_bpm", "above 0");
  require(finite(s.max_bpm) && s.max_bpm > s.min_bpm, "max_bpm", "above min_bpm");
  require(finite(s.transition_lambda) && s.transition_lambda >= 0.0, "transition_lambda",
          "0 or more");
  require(finite(s.transition_cutoff) && s.transition_cutoff >= 0.0, "transition_cutoff",
          "0 or more");
  require(finite(s.tempo_jump_probability) && s.tempo_jump_probability >= 0.0 &&
              s.tempo_jump_probability < 1.0,
          "tempo_jump_probability", "0 to below 1");
  for (std::size_t k = 0; k < s.bar_lengths.size(); ++k)
    require(s.bar_lengths[k] >= 1 && s.bar_lengths[k] <= kMaxBarBeats &&
                std::count(s.bar_lengths.begin(), s.bar_lengths.begin() + std::ptrdiff_t(k), s.bar_lengths[k]) == 0,
            "bar_lengths",
            "1 to " + std::to_string(kMaxBarBeats) + " beats each, none twice");
  require(s.bar_lengths.empty() || s.activation == Settings::Activation::kLearned, "bar_lengths",
          "empty unless activation is kLearned (an onset feature shows no downbeat)");
  require(finite(s.metre_change_probability) && s.metre_change_probability >= 0.0 &&
              s.metre_change_probability < 1.0,
          "metre_change_probability", "0 to below 1");
  require(finite(s.observation_lambda) && s.observation_lambda > 1.0, "observation_lambda",
          "above 1");
  require(finite(s.min_onset) && s.min_onset > 0.0 && s.min_onset < 0.5, "min_onset",
          "above 0 and below 0.5");
  require(finite(s.min_beat_spacing) && s.min_beat_spacing >= 0.0 && s.min_beat_spacing < 1.0,
          "min_beat_spacing", "0 to below 1");
  require(s.beat_decision == Settings::BeatDecision::kNextBeatPosterior ||
              s.beat_decision == Settings::BeatDecision::kBestStateWrap,
          "beat_decision", "kNextBeatPosterior or kBestStateWrap");
  require(s.announce_ahead >= 0, "announce_ahead", "0 or more frames");
  require(finite(s.confidence_seconds) && s.confidence_seconds > 0.0 &&
              s.confidence_seconds <= 600.0,
          "confidence_seconds", "above 0, at most 600");
  require(finite(s.confidence_half_nats) && s.confidence_half_nats > 0.0,
          "confidence_half_nats", "above 0");
  require(s.accent_frames >= 0 && s.accent_frames <= 50, "accent_frames", "0 to 50");
  require(s.beat_region >= 1, "beat_region", "at least 1 frame");
  require(finite(s.offline_lookahead_seconds) && s.offline_lookahead_seconds >= 1.0,
          "offline_lookahead_seconds", "at least 1");
  require(finite(s.offline_segment_seconds) &&
              s.offline_segment_seconds >= 2.0 * s.offline_lookahead_seconds &&
              s.offline_segment_seconds <= 86400.0,
          "offline_segment_seconds", "at least twice offline_lookahead_seconds, at most 86400");

  const Intervals iv = intervalRange(s);
  require(iv.shortest >= s.beat_region + 1 && iv.shortest >= 2, "max_bpm",
          "slow enough for beat intervals of at least " + std::to_string(s.beat_region + 1) +
              " frames (" + std::to_string(iv.shortest) + " at this frame rate)");
  require(iv.longest <= kMaxInterval, "min_bpm",
          "fast enough for beat intervals of at most " + std::to_string(kMaxInterval) +
              " frames (" + std::to_string(iv.longest) + " at this frame rate)");
  require(iv.longest > iv.shortest, "the tempo range", "at least two beat intervals wide");
  require(s.announce_ahead < iv.shortest, "announce_ahead",
          "shorter than the shortest beat interval (" + std::to_string(iv.shortest) + " frames)");
}

std::string learnedFramingProblem(const Settings& s) {
  // The network was trained at 100 frames per second from 16 kHz up.
  if (s.sample_rate >= 16000.0 && std::fabs(s.framesPerSecond() / 100.0 - 1.0) <= 0.02) return "";
  std::ostringstream why;
  why << "bar_pointer: the learned activation needs spectra at 100 frames per second from 16 kHz "
         "or more, not "
      << s.framesPerSecond() << " frames per second at " << s.sample_rate << " Hz";
  return why.str();
}

const Settings& validated(const Settings& s) {
  validate(s);
  return s;
}

}  // namespace bar_pointer
