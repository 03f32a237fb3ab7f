#include "tesk-music/pipeline/reference_signal.h"

#include "resampler.h"

namespace tesk_pipeline {

std::vector<float> monoAtRate(const float* samples, int64_t frames, int channels, int rate,
                              int target_rate) {
  std::vector<float> mono(size_t(frames > 0 ? frames : 0));
  const float scale = 1.0f / float(channels);
  for (size_t i = 0; i < mono.size(); ++i) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) sum += samples[i * size_t(channels) + size_t(c)];
    mono[i] = channels == 1 ? sum : sum * scale;
  }
  if (rate == target_rate || mono.empty()) return mono;
  Resampler resampler(rate, target_rate, 1);
  std::vector<float> resampled;
  resampled.reserve(size_t(double(mono.size()) * target_rate / rate) + 1024);
  resampler.push(mono.data(), int64_t(mono.size()), resampled);
  resampler.finish(resampled);
  return resampled;
}

}  // namespace tesk_pipeline
