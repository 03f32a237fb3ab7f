// Tells whether the input was silent before a beat. The trackers keep
// announcing beats in silence, and in near-silence (dither, a noise floor)
// judge some of them reliable; the pipeline does not report a beat when the
// second of input before the beat's time stayed below the gate level. The
// time before the input counts as silence, so no beat is reported before
// anything was heard, nor before a beat period of the slowest tempo was
// heard: until then the stpm node's announcements rest on the silence its
// histories start with (it announces its first beat near 0.67 s whatever
// the input). Offline beats are placed on frames long passed, so the gate
// remembers what it heard until told that a time will not be asked about.
#pragma once

#include <cstdint>
#include <deque>

namespace tesk_pipeline {

class SilenceGate {
 public:
  // `level_dbfs` <= -200 or >= 0 disables the gate; `hold`: how many
  // samples of silence make the input silent; the level is judged over
  // blocks of `block` samples; `settle`: how many samples after the first
  // sound beats start to count.
  SilenceGate(double level_dbfs, int64_t hold, int64_t block, int64_t settle = 0);
  // The input samples [start, start + frames), interleaved, judged by their
  // channel mean: what the trackers hear (antiphase channels are silence).
  // Samples come in order.
  void heard(int64_t start, const float* samples, int64_t frames, int channels);
  // Whether the input stayed below the level in the `hold` samples up to
  // sample `at`: any `at` since the last forgetBefore().
  bool silentAt(int64_t at) const;
  // Times before sample `at` will not be asked about again.
  void forgetBefore(int64_t at);

 private:
  bool enabled_;
  double power_floor_;
  int64_t hold_;
  int64_t block_;
  int64_t settle_;
  int64_t first_loud_ = -1;
  std::deque<int64_t> loud_;  // starts of the loud blocks still needed, oldest first
};

}  // namespace tesk_pipeline
