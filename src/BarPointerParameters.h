#ifndef TESK_MUSIC_BAR_POINTER_PARAMETERS_H
#define TESK_MUSIC_BAR_POINTER_PARAMETERS_H

#include <optional>

#include "bar_pointer/Settings.h"

// What a host chooses of the bar-pointer tracker: the frame layout, the
// tempo range and the few model constants worth changing per use. The
// "BarPointerTracker" node takes them as parameters; a program that decodes
// the node's onsets offline builds its decoder from the same values, so
// both run one and the same model.
struct BarPointerParameters {
  int sampling_rate = 0;  // Hz
  int window = 0;         // samples
  int advance = 0;        // samples
  int min_bpm = 0;
  int max_bpm = 0;
  // Unset: the tracker's own default.
  std::optional<int> announce_ahead;  // frames
  std::optional<double> compression;  // gamma of log(1 + gamma * band)
  std::optional<double> transition_lambda;
  std::optional<double> observation_lambda;
  // What the tracker observes: spectral flux or a learned network's activations.
  std::optional<bar_pointer::Settings::Activation> activation;
};

// The tracker's settings for these parameters, everything else at its
// default. Not validated here: bar_pointer::validate() and the tracker's
// constructors do that.
bar_pointer::Settings barPointerSettings(const BarPointerParameters &p);

#endif
