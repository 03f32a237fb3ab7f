// Turns the options and an input's sample rate into the tracker's settings,
// and rejects what the tracker cannot work with before it is built.
#pragma once

#include <string>

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

// How messages call the analysis rate `rate`: "--analysis-rate 8000 Hz",
// "the default analysis rate of 44100 Hz" or "the input's rate of 8000 Hz".
std::string rateName(const Options& o, int rate);

// Why the chosen tracker could not work with the window, advance, tempo
// range (and, for bar-pointer, announce-ahead) of `o` at `rate`, or "" when
// it can. The message names the options given and the defaults taken.
// `chosen` receives the settings, every option not given at the tracker's
// default, the window and advance from their durations at `rate`.
std::string framingProblem(const Options& o, int rate, TrackerSettings* chosen = nullptr);

// The settings the tracker runs with, in one line: the tracker, analysis
// rate, window, advance, the beat interval range in frames and BPM,
// threshold, compression, and for bar-pointer how far ahead beats are
// announced (or that they are decoded offline).
std::string describeSettings(const TrackerSettings& s, int input_rate, bool offline);

// The settings for an input analysed at `sample_rate` (see framingProblem),
// checked against what the tracker accepts. Throws InputError naming
// `input`, the rate or the option at fault.
TrackerSettings trackerSettings(const Options& o, int sample_rate, int channels,
                                const std::string& input);

// The bar-pointer model the "BarPointerTracker" node runs with these
// settings, for the offline decoder to run the same.
bar_pointer::Settings barPointerSettings(const TrackerSettings& s);

}  // namespace tesk_beat
