// The settings one input is tracked with, its failures said as the input's.
#pragma once

#include <string>

#include "options.h"

namespace tesk_beat {

// See tesk_pipeline::trackerSettings; throws InputError naming `input`.
TrackerSettings trackerSettings(const Options& o, int sample_rate, int channels,
                                const std::string& input);

}  // namespace tesk_beat
