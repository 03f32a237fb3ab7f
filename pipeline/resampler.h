// Converts a stream to the analysis rate with libsoxr (low-quality preset:
// 16-bit precision, ample for onsets and far cheaper than the analysis).
// The stream comes in blocks of any size; what comes out does not depend on
// how it was cut.
#pragma once

#include <soxr.h>

#include <cstdint>
#include <vector>

namespace tesk_pipeline {

class Resampler {
 public:
  Resampler(int input_rate, int output_rate, int channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  int sampleRate() const { return rate_; }
  // Appends to `out` (interleaved) what `frames` more input frames give.
  void push(const float* in, int64_t frames, std::vector<float>& out);
  // The input has ended: appends what the filter still holds.
  void finish(std::vector<float>& out);

 private:
  int rate_;
  int channels_;
  soxr_t soxr_ = nullptr;
  std::vector<float> block_;
};

}  // namespace tesk_pipeline
