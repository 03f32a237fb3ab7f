// A reference signal made ready for Tracker::process(samples, reference,
// frames): mixed down to mono (the channel mean) and resampled to the
// input's rate.
#pragma once

#include <cstdint>
#include <vector>

namespace tesk_pipeline {

// `frames` frames of `channels` interleaved samples at `rate` Hz, as mono
// samples at `target_rate` Hz (the same duration, rounded).
std::vector<float> monoAtRate(const float* samples, int64_t frames, int channels, int rate,
                              int target_rate);

}  // namespace tesk_pipeline
