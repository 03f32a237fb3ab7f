// Tells whether the recent input was silent. The trackers keep announcing
// beats in silence, and in near-silence (dither, a noise floor) judge some
// of them reliable; the tool does not report a beat when the last second of
// input stayed below the gate level. Offline beats are placed on frames
// already passed, so the gate also remembers which earlier frames were
// silent.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>

namespace tesk_beat {

class SilenceGate {
 public:
  // `level_dbfs` <= -200 or >= 0 disables the gate; `hold_frames`: how many
  // frames of silence make the input silent.
  SilenceGate(double level_dbfs, int64_t hold_frames);
  // The samples new in frame `frame` (interleaved, all channels); frames
  // come in order.
  void frame(int64_t frame, const float* samples, int64_t count);
  // Whether the newest frame, `frame`, is silent.
  bool silent(int64_t frame) const;
  // Whether an earlier frame was silent when it was the newest; known for
  // the frames since the last forgetBefore().
  bool wasSilent(int64_t frame) const;
  // Frames before `frame` will not be asked about again.
  void forgetBefore(int64_t frame);

 private:
  bool enabled_;
  double power_floor_;
  int64_t hold_;
  int64_t last_loud_ = -1;
  std::deque<std::pair<int64_t, int64_t>> silent_spans_;  // first and last frame
};

}  // namespace tesk_beat
