#include "silence_gate.h"

#include <cmath>

namespace tesk_beat {

SilenceGate::SilenceGate(double level_dbfs, int64_t hold_frames)
    : enabled_(level_dbfs > -200.0 && level_dbfs < 0.0),
      power_floor_(std::pow(10.0, level_dbfs / 10.0)),
      hold_(hold_frames) {}

void SilenceGate::frame(int64_t frame, const float* samples, int64_t count) {
  if (!enabled_ || count <= 0) return;
  double sum = 0.0;
  for (int64_t i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
  if (sum / double(count) > power_floor_) last_loud_ = frame;
}

bool SilenceGate::silent(int64_t frame) const {
  return enabled_ && (last_loud_ < 0 || frame - last_loud_ > hold_);
}

}  // namespace tesk_beat
