#include "sample_queue.h"

#include <algorithm>

namespace tesk_pipeline {

void SampleQueue::push(const float* samples, int64_t frames) {
  // Drop what was read once it is most of the queue: it stays about a
  // frame long without moving samples on every small block.
  if (used_ > 0 && used_ >= samples_.size() / 2) {
    samples_.erase(samples_.begin(), samples_.begin() + std::ptrdiff_t(used_));
    used_ = 0;
  }
  samples_.insert(samples_.end(), samples, samples + frames * channels_);
}

int64_t SampleQueue::read(float* out, int64_t frames) {
  const int64_t n = std::min(frames, queuedFrames());
  std::copy_n(samples_.begin() + std::ptrdiff_t(used_), n * channels_, out);
  used_ += size_t(n * channels_);
  return n;
}

}  // namespace tesk_pipeline
