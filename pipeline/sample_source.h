// A stream of interleaved float frames: an audio input, or one resampled.
#pragma once

#include <cstdint>

namespace tesk_pipeline {

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual int sampleRate() const = 0;
  virtual int channels() const = 0;
  // Reads up to `frames` frames into `out`; fewer only at the end, 0 after it.
  virtual int64_t read(float* out, int64_t frames) = 0;
};

}  // namespace tesk_pipeline
