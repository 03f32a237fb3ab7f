// Turns the options and an input's sample rate into the tracker's settings,
// and rejects what the tracker cannot work with before it is built.
#pragma once

#include "bar_pointer/Settings.h"
#include "network.h"
#include "options.h"

namespace tesk_beat {

// The smallest even size >= n whose only prime factors are 2, 3 and 5:
// sizes FFTW transforms fastest.
int fftFriendlySize(int n);

// The rate the input is analysed at: the tracker's analysis rate (or
// --analysis-rate) when the input's rate is higher, else the input's own.
int analysisRate(const Options& o, int input_rate);

// Every option not given at the chosen tracker's default; the window and
// advance from their durations at `sample_rate`. Checks them against what
// the tracker accepts. Throws InputError naming `input`, the rate or the
// option at fault.
TrackerSettings trackerSettings(const Options& o, int sample_rate, int channels,
                                const std::string& input);

// The bar-pointer model the "BarPointerTracker" node runs with these
// settings, for the offline decoder to run the same.
bar_pointer::Settings barPointerSettings(const TrackerSettings& s);

}  // namespace tesk_beat
