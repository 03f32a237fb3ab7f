#ifndef BEAT_TRACKER_ENGINE_ENGINE_LIMITS_H
#define BEAT_TRACKER_ENGINE_ENGINE_LIMITS_H

namespace beat_tracker {

// Frames held by every per-frame history.
constexpr unsigned long kHistoryLength = 3000;

// Frames of the interval history read by the music reliability.
constexpr double music_reliability_window = 200;

// A silent frame's interval is cc_shift_start - 5, which must not be negative.
constexpr double kMinShiftStart = 5;

// Deepest lookups of a frame, with I the largest interval the tracker can
// hold: the beat pattern steps back three intervals (3 I); the interval
// pattern reads k + I with k < min(I, cc_shift_end); the beat search reads
// cc_shift_end + ceil(I); pattern matching reads 2 cc_shift_end - 2. Three
// intervals must therefore stay within the history: I <= 999. As every
// candidate interval lies below cc_shift_end, that needs cc_shift_end <= 1000.
constexpr int kMaxInterval = (static_cast<int>(kHistoryLength) - 1) / 3;
constexpr int kMaxShiftEnd = kMaxInterval + 1;

}  // namespace beat_tracker

#endif
