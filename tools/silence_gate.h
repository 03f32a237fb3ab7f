// Tells whether the recent input was silent. The node keeps announcing
// beats in silence, and in near-silence (dither, a noise floor) judges some
// of them reliable, since its pattern matching does not depend on the
// level; the tool does not report a beat when the last second of input
// stayed below the gate level.
#pragma once

#include <cstdint>

namespace tesk_beat {

class SilenceGate {
 public:
  // `level_dbfs` <= -200 or >= 0 disables the gate; `hold_frames`: how many
  // frames of silence make the input silent.
  SilenceGate(double level_dbfs, int64_t hold_frames);
  // The samples new in frame `frame` (interleaved, all channels).
  void frame(int64_t frame, const float* samples, int64_t count);
  bool silent(int64_t frame) const;

 private:
  bool enabled_;
  double power_floor_;
  int64_t hold_;
  int64_t last_loud_ = -1;
};

}  // namespace tesk_beat
