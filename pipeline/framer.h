// Cuts an audio input into overlapping frames: frame k covers samples
// k*advance up to k*advance + window; the input is padded with zeros after
// its end. A frame is produced while it holds at least one new input sample,
// so every sample is new in exactly one frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sample_source.h"

namespace tesk_pipeline {

class Framer {
 public:
  Framer(SampleSource& input, int window, int advance);

  // Moves to the next frame; false at the end of the input.
  bool next();

  int64_t frameIndex() const { return frame_ - 1; }
  int window() const { return window_; }
  int advance() const { return advance_; }
  int channels() const { return channels_; }
  // Sample j of channel c of the current frame (planar, `window` per channel).
  const float* channel(int c) const { return planar_.data() + size_t(c) * window_; }
  // The interleaved input samples that are new in the current frame, and
  // how many frames of them are real input (the rest of the frame is padding).
  const std::vector<float>& newSamples() const { return fresh_; }
  int64_t newFrames() const { return fresh_frames_; }

 private:
  int64_t fill(int64_t frames);

  SampleSource& input_;
  int window_;
  int advance_;
  int channels_;
  int64_t frame_ = 0;
  std::vector<float> planar_;
  std::vector<float> fresh_;
  int64_t fresh_frames_ = 0;
  bool ended_ = false;
};

}  // namespace tesk_pipeline
