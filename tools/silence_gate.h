// Tells whether the recent input was silent. The node keeps announcing
// beats in silence, and in near-silence (dither, a noise floor) judges some
// of them reliable, since its pattern matching does not depend on the
// level; the tool does not report a beat when the second of input before
// the beat's time stayed below the gate level. The time before the input
// counts as silence, so no beat is reported before anything was heard, nor
// before a beat period of the slowest tempo was heard: until then the
// node's announcements rest on the silence its histories start with (it
// announces its first beat near 0.67 s whatever the input).
#pragma once

#include <cstdint>
#include <deque>

namespace tesk_beat {

class SilenceGate {
 public:
  // `level_dbfs` <= -200 or >= 0 disables the gate; `hold`: how many
  // samples of silence make the input silent; the level is judged over
  // blocks of `block` samples; `settle`: how many samples after the first
  // sound beats start to count.
  SilenceGate(double level_dbfs, int64_t hold, int64_t block, int64_t settle = 0);
  // The input samples [start, start + frames), interleaved, judged by their
  // channel mean: what the node hears (antiphase channels are silence).
  void heard(int64_t start, const float* samples, int64_t frames, int channels);
  // Whether the input stayed below the level in the `hold` samples up to
  // sample `at`.
  bool silentAt(int64_t at) const;

 private:
  bool enabled_;
  double power_floor_;
  int64_t hold_;
  int64_t block_;
  int64_t settle_;
  int64_t first_loud_ = -1;
  std::deque<int64_t> loud_;  // starts of the recent loud blocks, oldest first
};

}  // namespace tesk_beat
