// The tempo of a beat from the times of the beats around it. The nodes
// count intervals in whole frames (at 100 frames a second, 174 BPM reads
// 171.43 or 176.47), while the beats themselves follow the music's period
// on average: a line fitted through their times finds it between frames.
#pragma once

#include <cstddef>
#include <deque>

namespace tesk_pipeline {

// Beats per minute at beat `i` of `times` (seconds, ascending): the slope
// of the least-squares line through the times of the beats from up to
// `before` earlier to up to `after` later ones, against their count. The
// run stops at an interval more than 15 % from the median interval of
// those beats (a phase correction, a change of metrical level); a beat
// between two such intervals takes the median. NaN without any interval.
double tempoAround(const std::deque<double>& times, size_t i, size_t before, size_t after);

}  // namespace tesk_pipeline
