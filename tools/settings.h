// Turns the options and an input's sample rate into the node's settings,
// and rejects what the node cannot work with before it is built.
#pragma once

#include <string>

#include "network.h"
#include "options.h"

namespace tesk_beat {

// The smallest even size >= n whose only prime factors are 2, 3 and 5:
// sizes FFTW transforms fastest.
int fftFriendlySize(int n);

// Why the node could not work with the window, advance and tempo range of
// `o` at `rate` (called `rate_name` in the message), or "" when it can.
// The message names the options given and the defaults taken. `chosen`
// receives the window and advance.
std::string framingProblem(const Options& o, int rate, const std::string& rate_name,
                           TrackerSettings* chosen = nullptr);

// The settings the node runs with, in one line: analysis rate, window,
// advance, the interval range in frames and BPM, threshold, compression.
std::string describeSettings(const TrackerSettings& s, int input_rate);

// Window (about 32 ms) and advance (about 10 ms) at `sample_rate` unless
// given; checks the tempo range against the frame rate. Throws InputError
// naming `input`, the rate or the option at fault.
TrackerSettings trackerSettings(const Options& o, int sample_rate, int channels,
                                const std::string& input);

}  // namespace tesk_beat
