#include "resampler.h"

#include <stdexcept>
#include <string>

namespace tesk_pipeline {

namespace {
constexpr size_t kBlockFrames = 512;  // output taken in small steps: a live stream must not wait
}

Resampler::Resampler(int input_rate, int output_rate, int channels)
    : rate_(output_rate), channels_(channels), block_(kBlockFrames * size_t(channels)) {
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread
  soxr_ = soxr_create(double(input_rate), double(output_rate), unsigned(channels), &error, &io,
                      &quality, &runtime);
  if (!soxr_ || error)
    throw std::runtime_error(std::string("cannot set up resampling: ") + (error ? error : "?"));
}

Resampler::~Resampler() { soxr_delete(soxr_); }

void Resampler::push(const float* in, int64_t frames, std::vector<float>& out) {
  if (frames <= 0) return;  // a null input would tell soxr the stream ended
  size_t left = size_t(frames);
  for (;;) {
    size_t done_in = 0, done_out = 0;
    soxr_process(soxr_, in, left, &done_in, block_.data(), kBlockFrames, &done_out);
    out.insert(out.end(), block_.begin(), block_.begin() + done_out * channels_);
    in += done_in * channels_;
    left -= done_in;
    // A full block may leave more output waiting.
    if (left == 0 && done_out < kBlockFrames) return;
  }
}

void Resampler::finish(std::vector<float>& out) {
  for (;;) {
    size_t done_out = 0;
    soxr_process(soxr_, nullptr, 0, nullptr, block_.data(), kBlockFrames, &done_out);
    if (done_out == 0) return;
    out.insert(out.end(), block_.begin(), block_.begin() + done_out * channels_);
  }
}

}  // namespace tesk_pipeline
