// Samples pushed in blocks of any size, read by the framer. Reading stops
// at what was pushed; only after close() does an empty queue mean the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sample_source.h"

namespace tesk_pipeline {

class SampleQueue : public SampleSource {
 public:
  SampleQueue(int sample_rate, int channels) : rate_(sample_rate), channels_(channels) {}

  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  int64_t read(float* out, int64_t frames) override;

  void push(const float* samples, int64_t frames);
  void close() { closed_ = true; }
  bool closed() const { return closed_; }
  int64_t queuedFrames() const { return int64_t(samples_.size() - used_) / channels_; }

 private:
  int rate_;
  int channels_;
  std::vector<float> samples_;
  size_t used_ = 0;  // samples already read from the front
  bool closed_ = false;
};

}  // namespace tesk_pipeline
