#include "silence_gate.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tesk_pipeline {

SilenceGate::SilenceGate(double level_dbfs, int64_t hold, int64_t block, int64_t settle)
    : enabled_(level_dbfs > -200.0 && level_dbfs < 0.0),
      power_floor_(std::pow(10.0, level_dbfs / 10.0)),
      hold_(hold),
      block_(std::max<int64_t>(block, 1)),
      settle_(settle) {}

void SilenceGate::heard(int64_t start, const float* samples, int64_t frames, int channels) {
  if (!enabled_) return;
  for (int64_t from = 0; from < frames; from += block_) {
    const int64_t to = std::min(frames, from + block_);
    double sum = 0.0;
    for (int64_t i = from; i < to; ++i) {
      double mean = 0.0;
      for (int c = 0; c < channels; ++c) mean += samples[i * channels + c];
      mean /= channels;
      sum += mean * mean;
    }
    if (sum / double(to - from) > power_floor_) {
      loud_.push_back(start + from);
      if (first_loud_ < 0) first_loud_ = start + from;
    }
  }
}

bool SilenceGate::silentAt(int64_t at) const {
  if (!enabled_) return false;
  if (first_loud_ < 0 || at - first_loud_ < settle_) return true;  // not heard long enough
  // The last loud block that starts at or before `at`.
  auto after = std::upper_bound(loud_.begin(), loud_.end(), at);
  if (after == loud_.begin()) return true;  // nothing heard up to `at`
  return at - *std::prev(after) > hold_;
}

void SilenceGate::forgetBefore(int64_t at) {
  // The newest loud block at or before `at` still answers for the times after it.
  while (loud_.size() > 1 && loud_[1] <= at) loud_.pop_front();
}

}  // namespace tesk_pipeline
