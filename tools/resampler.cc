#include "resampler.h"

#include <stdexcept>
#include <string>

namespace tesk_beat {

namespace {
constexpr size_t kBlockFrames = 512;  // small: a live stream must not wait long
}

Resampler::Resampler(SampleSource& input, int rate, Observer observer)
    : input_(input), rate_(rate), observer_(std::move(observer)),
      block_(kBlockFrames * size_t(input.channels())) {
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_LQ, 0);
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread
  soxr_ = soxr_create(double(input.sampleRate()), double(rate), unsigned(input.channels()),
                      &error, &io, &quality, &runtime);
  if (!soxr_ || error)
    throw std::runtime_error(std::string("cannot set up resampling: ") + (error ? error : "?"));
}

Resampler::~Resampler() { soxr_delete(soxr_); }

int64_t Resampler::read(float* out, int64_t frames) {
  const int ch = input_.channels();
  int64_t produced = 0;
  while (produced < frames && !drained_) {
    if (block_used_ == block_frames_ && !input_ended_) {
      int64_t got = input_.read(block_.data(), int64_t(kBlockFrames));
      if (got == 0) {
        input_ended_ = true;
      } else {
        if (observer_) observer_(block_.data(), got);
        block_frames_ = size_t(got);
        block_used_ = 0;
      }
    }
    size_t done_in = 0, done_out = 0;
    float* dst = out + produced * ch;
    const size_t room = size_t(frames - produced);
    if (block_used_ < block_frames_) {
      soxr_process(soxr_, block_.data() + block_used_ * ch, block_frames_ - block_used_, &done_in,
                   dst, room, &done_out);
      block_used_ += done_in;
    } else if (input_ended_) {
      // End of input: take what the filter still holds.
      soxr_process(soxr_, nullptr, 0, nullptr, dst, room, &done_out);
      if (done_out == 0) drained_ = true;
    }
    produced += int64_t(done_out);
  }
  return produced;
}

}  // namespace tesk_beat
