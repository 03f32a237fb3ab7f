// Settings of the bar-pointer beat tracker. Every constant of the model is a
// setting here, with the value that measured best on our evaluation music.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace bar_pointer {

struct Settings {
  // The spectra handed to the tracker: magnitudes of a real FFT of
  // `window_size` samples taken every `hop_size` samples at `sample_rate` Hz
  // (window_size / 2 + 1 bins).
  double sample_rate = 44100.0;
  int window_size = 2048;
  int hop_size = 441;

  // What the tracker observes each frame: the onset feature below (spectral
  // flux), or a learned network's beat and downbeat activations.
  enum class Activation { kFlux, kLearned };
  Activation activation = Activation::kFlux;

  // Onset feature: a logarithmic filterbank, log compression, and the rise
  // of each band over the previous frame maximum-filtered across
  // neighbouring bands (so that vibrato does not read as onsets).
  double min_frequency = 30.0;      // Hz
  double max_frequency = 16000.0;   // Hz, or Nyquist if lower
  int bands_per_octave = 12;
  // Band centres lie on band_reference * 2^(k / bands_per_octave): the
  // equal-tempered grid, or one anchored at min_frequency.
  double band_reference = 440.0;    // Hz
  // Each filter's weights sum to 1 (a band is the mean of its bins), or its
  // peak is 1 (wide high bands then weigh more than narrow low ones).
  bool unit_sum_filters = true;
  // A centre exactly halfway between two FFT bins is snapped to the even
  // one rather than the upper (as numpy rounds).
  bool snap_ties_to_even = false;
  // Magnitudes are multiplied by this before the filterbank. It sets where
  // log(1 + compression * band) bends: an unnormalised FFT of a Hann window
  // of N samples puts a full-scale sine at N / 4, so 4 / N puts it near 1.
  double magnitude_scale = 1.0;
  double compression = 10.0;        // log(1 + compression * band)
  int max_filter_bands = 3;         // width of the maximum filter, odd
  int diff_frames = 1;              // the rise is taken over this many frames
  // Each band's rise is weighted by (centre / 1 kHz)^high_emphasis: attacks
  // are broadband and stand out best high up, where tonal partials are weak,
  // while the low bands' rises come as much from bass notes and vibrato.
  double high_emphasis = 0.3;
  // A steady noise floor rises a little in every frame; an adaptive floor,
  // `floor_scale` times the `floor_quantile` of the rises of the last
  // `floor_seconds`, is taken off before normalising (music is rarely
  // without onsets for a quarter of a second). floor_scale 0 turns it off.
  double floor_seconds = 1.0;
  double floor_quantile = 0.25;
  double floor_scale = 1.0;
  double normalisation_seconds = 3.0;  // running maximum that maps to 1

  // State space: one tempo per whole beat interval in frames between the
  // periods of max_bpm and min_bpm, and a beat position within it.
  double min_bpm = 55.0;
  double max_bpm = 215.0;
  // Tempo changes only at the beat, from interval i to j with probability
  // proportional to exp(-transition_lambda * |j / i - 1|).
  double transition_lambda = 100.0;
  // Tempo changes costing more than this (nats) are dropped before each
  // tempo's transitions are normalised.
  double transition_cutoff = 30.0;
  // Online, at each beat the tempo may also jump anywhere in the range,
  // with this total probability spread evenly over the tempi. Music changes
  // tempo abruptly at a new section, where small steps cannot follow; and a
  // tempo taken wrongly early on (twice or three times the beat, before the
  // accents have told) is left as soon as the beats since favour the right
  // one by the price of a jump into it (e^23 for one of 161 tempi), instead
  // of by all the lead the wrong one built up. Offline decoding sees the
  // whole input and does without: its best path would jump to whichever
  // level each passage favours, where a listener keeps one.
  double tempo_jump_probability = 1e-8;
  // Bars: the numbers of beats per bar the tracker may follow (each 1 to 8,
  // none twice), or none to follow beats only. With bars, every tempo comes
  // once per bar length, a cycle of that many beats that starts on the
  // downbeat, and both tempo and bar length change only at the downbeat
  // (the tempo jump above may also land in any bar length). Only a learned
  // network's downbeat activation tells a downbeat from another beat, so
  // bars need activation kLearned.
  std::vector<int> bar_lengths;
  // At each downbeat, the probability that the bar length changes, spread
  // evenly over the other lengths. A change then costs about 12 nats: two
  // bars of clear downbeats on the new bar lines pay for it, a stray downbeat
  // activation or two does not (a bar length taken and left again pays
  // twice). Most music keeps its metre throughout; this is for the few
  // pieces that change it between sections.
  double metre_change_probability = 1e-5;
  // A beat state (the first `beat_region` positions) has likelihood o, any
  // other (1 - o) / (observation_lambda - 1), o being the onset feature.
  // With bars, the beat region of the downbeat has likelihood d, those of
  // the other beats b, any other state (1 - b - d) / (observation_lambda -
  // 1), from the downbeat and beat activations d and b (each of d, b and
  // 1 - b - d kept within [min_onset, 1 - min_onset]); without, activations
  // act as the onset feature o = b + d.
  // Every beat passes its beat region once, so observation_lambda is also
  // the price of a beat: (observation_lambda - 1)^-beat_region. Music has
  // onsets between its beats, and a cheap beat lets the tempo twice as fast
  // explain them; at 8 rather than 16 (a beat e^2.3 times dearer) slow music
  // with busy half beats keeps its own tempo, and most fast music still
  // explains its onsets best at its own.
  double observation_lambda = 8.0;
  int beat_region = 3;
  // o is kept within [min_onset, 1 - min_onset]: a beat without an onset (a
  // rest, a syncopation) stays possible instead of ruling out its tempo.
  double min_onset = 0.03;

  // Online decisions: a beat is announced at most once per this fraction of
  // the current interval, up to `announce_ahead` frames before it is
  // predicted. A frame describes the middle of its window, whose second
  // half is already heard; 3 frames ahead (30 ms) puts the predicted beat at
  // or after the moment the decision is made with a 46 ms window.
  double min_beat_spacing = 0.6;
  int announce_ahead = 3;
  // What decides a beat online: the most probable number of frames to the
  // next beat over all tempi together (steady where tempi and phases of
  // similar probability take turns as the best state), or the phase of the
  // single most probable state wrapping through 0 (or reaching within
  // announce_ahead frames of it).
  enum class BeatDecision { kNextBeatPosterior, kBestStateWrap };
  BeatDecision beat_decision = BeatDecision::kNextBeatPosterior;
  // Confidence of a beat: that the tracker is locked on (how much better
  // than chance the posterior predicted the onsets of the last
  // `confidence_seconds`, in nats, mapped to [0, 1) so that
  // `confidence_half_nats` gives 0.5), times its accent: the onset feature
  // within `accent_frames` of the same beat two and four beats earlier
  // (online) or of the beat itself (offline). Off-beats taken for beats,
  // the commonest error, carry weaker onsets than beats.
  double confidence_seconds = 4.0;
  // A locked tracker earns fewer nats per beat the lower
  // observation_lambda (its beat frames without an onset cost more): 3.5
  // at 8 reads a steady lock as 5 did at 16.
  double confidence_half_nats = 3.5;
  int accent_frames = 2;

  // Offline decoding (Viterbi) keeps its back-pointers for at most
  // `offline_segment_seconds` of input; when they are full, the best path is
  // traced back and every beat older than `offline_lookahead_seconds` before
  // the newest frame is final. Memory stays flat for inputs of any length;
  // shorter inputs are decoded whole.
  double offline_segment_seconds = 600.0;
  double offline_lookahead_seconds = 30.0;

  double framesPerSecond() const { return sample_rate / hop_size; }
  std::size_t confidenceFrames() const {
    const double n = std::round(confidence_seconds * framesPerSecond());
    return n >= 1.0 ? std::size_t(n) : 1;
  }
  int bins() const { return window_size / 2 + 1; }
};

// Throws std::invalid_argument naming the first setting out of range.
void validate(const Settings& s);
// Why the learned network cannot read spectra framed as `s`, or "".
std::string learnedFramingProblem(const Settings& s);
// `s`, once validated: for member initialisers.
const Settings& validated(const Settings& s);

}  // namespace bar_pointer
