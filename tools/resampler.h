// Converts a stream to the analysis rate with libsoxr (low-quality preset:
// 16-bit precision, ample for onsets and far cheaper than the analysis).
// Every block read from the input is also shown to an observer, which gets
// the original audio (the click track is written at the input's own rate).
#pragma once

#include <soxr.h>

#include <functional>
#include <vector>

#include "sample_source.h"

namespace tesk_beat {

class Resampler : public SampleSource {
 public:
  using Observer = std::function<void(const float* frames, int64_t count)>;
  Resampler(SampleSource& input, int rate, Observer observer);
  ~Resampler() override;
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  int sampleRate() const override { return rate_; }
  int channels() const override { return input_.channels(); }
  int64_t read(float* out, int64_t frames) override;

 private:
  SampleSource& input_;
  int rate_;
  Observer observer_;
  soxr_t soxr_ = nullptr;
  std::vector<float> block_;
  size_t block_frames_ = 0, block_used_ = 0;
  bool input_ended_ = false, drained_ = false;
};

}  // namespace tesk_beat
