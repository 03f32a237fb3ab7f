#ifndef BEAT_TRACKER_ENGINE_TRACKING_STATE_H
#define BEAT_TRACKER_ENGINE_TRACKING_STATE_H

namespace beat_tracker {

// Interval and beat-phase state carried between frames of one engine.
struct TrackingState {
  // Interval choice of the previous frame, as an offset into the candidate range.
  double previous_interval_offset = 0.0;
  // Pattern-matching peak value of the previous frame, decayed each frame.
  double previous_peak_value = 0.0;
  // Interval used by the previous beat search.
  double previous_beat_interval = 0.0;
  // False if the interval moved by more than 5 frames since the last search.
  bool interval_stable = false;
  // Beat searches since the last accepted re-alignment.
  int beat_change_count = 0;
  // Consecutive beat searches whose result lay outside the expected window.
  unsigned long beat_miss_count = 0;
};

}  // namespace beat_tracker

#endif
