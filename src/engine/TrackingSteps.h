#ifndef BEAT_TRACKER_ENGINE_TRACKING_STEPS_H
#define BEAT_TRACKER_ENGINE_TRACKING_STEPS_H

#include <ostream>
#include <vector>

#include "engine/RingIBuffer.h"
#include "engine/TrackingState.h"

// The decision steps of BeatTracker::analyze, as free functions so that each
// can be exercised on its own.
namespace beat_tracker {
namespace detail {

// Interval choice of one frame, as offsets into the candidate range.
struct IntervalChoice {
  double chosen = 0.0;        // chosen interval offset (may be negative)
  int peak = 0;               // offset of the main peak
  int second = 0;             // offset of the examined second peak, -cc_shift_start if none
  double peak_value = 0.0;    // peak value kept for the next frame
  double second_value = 0.0;  // value of the examined second peak, 0 if none
  bool silent = false;        // the pattern-matching vector is all zero
};

// Peak picking, octave check and continuity with the previous frame. Updates
// previous_interval_offset and previous_peak_value. Needs stpm.size() >= 2.
IntervalChoice chooseInterval(const std::vector<double>& stpm, int cc_shift_start,
                              TrackingState& state);

// Continuity rule: when the previous offset lies more than 19 frames from
// `chosen`, a multiple (2x or 3x, brought into the candidate range) of their
// distance may replace `chosen`. Returns true and sets *moved if it does.
bool continuityOffset(double previous, double chosen, int cc_shift_start, double* moved);

// Largest interval, in frames, that the interval choice can ever produce for
// this candidate range: peaks lie below cc_shift_end, but the continuity rule
// can step a few frames beyond a previous offset again and again.
int largestReachableInterval(int cc_shift_start, int cc_shift_end);

// Number of earlier beats (0 to 3) summed into the beat pattern.
int pastBeatCount(int frame_count, int frames_per_window, int interval);

// One contribution to a frame's running beat reliability.
double accumulateReliability(double sum, double count, double contribution);

// Whether the beat search runs in this frame.
bool beatSearchDue(int frame_count, int cc_shift_end, int stpm_pattern_length, int past_beats,
                   int beat_time, double interval);

// Beat search over the reliability window W (W[k] belongs to frame
// frame_count - cc_shift_end - k) with the previous frame's interval L.
// Returns the new beat time; writes its anomaly lines to `out`.
int searchBeat(std::vector<double> window, int frame_count, int cc_shift_end, double interval,
               int beat_time, TrackingState& state, std::ostream& out);

// Latest predicted beat earlier than frame_count, walking forward from
// beat_time by the interval estimated at each beat. A start older than the
// history starts at its oldest frame. Writes its trace lines to `out`.
int walkForward(int beat_time, int frame_count, int cc_shift_end, int history_length,
                RingIBuffer<double>& interval_buffer, std::ostream& out);

}  // namespace detail
}  // namespace beat_tracker

#endif
