#include "framer.h"

#include <algorithm>

namespace tesk_pipeline {

Framer::Framer(SampleSource& input, int window, int advance)
    : input_(input),
      window_(window),
      advance_(advance),
      channels_(input.channels()),
      planar_(size_t(window) * size_t(input.channels()), 0.0f) {}

int64_t Framer::fill(int64_t frames) {
  fresh_.assign(size_t(frames) * channels_, 0.0f);
  int64_t got = 0;
  while (!ended_ && got < frames) {
    int64_t n = input_.read(fresh_.data() + got * channels_, frames - got);
    if (n == 0) ended_ = true;
    got += n;
  }
  fresh_frames_ = got;
  return got;
}

bool Framer::next() {
  const int64_t wanted = frame_ == 0 ? window_ : advance_;
  if (fill(wanted) == 0) return false;
  // Slide every channel by `wanted` and append the new (zero-padded) samples.
  for (int c = 0; c < channels_; ++c) {
    float* ch = planar_.data() + size_t(c) * window_;
    std::copy(ch + wanted, ch + window_, ch);
    float* dst = ch + (window_ - wanted);
    for (int64_t i = 0; i < wanted; ++i) dst[i] = fresh_[size_t(i) * channels_ + c];
  }
  ++frame_;
  return true;
}

}  // namespace tesk_pipeline
