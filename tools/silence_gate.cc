#include "silence_gate.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tesk_beat {

SilenceGate::SilenceGate(double level_dbfs, int64_t hold_frames)
    : enabled_(level_dbfs > -200.0 && level_dbfs < 0.0),
      power_floor_(std::pow(10.0, level_dbfs / 10.0)),
      hold_(hold_frames) {}

void SilenceGate::frame(int64_t frame, const float* samples, int64_t count) {
  if (!enabled_) return;
  if (count > 0) {
    double sum = 0.0;
    for (int64_t i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
    if (sum / double(count) > power_floor_) last_loud_ = frame;
  }
  if (!silent(frame)) return;
  if (!silent_spans_.empty() && silent_spans_.back().second == frame - 1)
    silent_spans_.back().second = frame;
  else
    silent_spans_.emplace_back(frame, frame);
}

bool SilenceGate::silent(int64_t frame) const {
  return enabled_ && (last_loud_ < 0 || frame - last_loud_ > hold_);
}

bool SilenceGate::wasSilent(int64_t frame) const {
  // The last span that starts at or before `frame`.
  auto after = std::upper_bound(
      silent_spans_.begin(), silent_spans_.end(), frame,
      [](int64_t f, const std::pair<int64_t, int64_t>& span) { return f < span.first; });
  return after != silent_spans_.begin() && std::prev(after)->second >= frame;
}

void SilenceGate::forgetBefore(int64_t frame) {
  while (!silent_spans_.empty() && silent_spans_.front().second < frame) silent_spans_.pop_front();
}

}  // namespace tesk_beat
