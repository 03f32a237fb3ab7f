// Where a beat lies in the stream, in seconds (before the offset).
#pragma once

#include <cstdint>

#include "network.h"

namespace tesk_pipeline {

// A beat announced on frame `frame`. stpm: the centre of the frame's window.
// bar-pointer: the beat falls `ahead` frames later ("BEAT_AHEAD"), at the
// centre of that frame's window, but is never placed before the end of the
// newest window, when it was decided.
double announcedBeatTime(const TrackerSettings& s, int64_t frame, int ahead);

// A beat decoded offline on frame `frame`: the centre of its window.
double decodedBeatTime(const TrackerSettings& s, int64_t frame);

}  // namespace tesk_pipeline
