// Whole sets of settings, so that a departure from one can be measured.
#pragma once

#include "bar_pointer/Settings.h"

namespace bar_pointer {

// The model of the Python research prototype (study/bar_pointer_prototype),
// framed as `framing` (its sample_rate, window_size and hop_size; the
// spectra a periodic-Hann-windowed, unnormalised FFT), with every other
// setting at its default.
Settings prototypeModel(const Settings& framing);

// The model that tracks the learned network's beat and downbeat
// activations, in bars of 2, 3 and 4 beats, at the default framing.
Settings learnedModel();

}  // namespace bar_pointer
