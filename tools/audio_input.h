// Reads audio through libsndfile: files of any readable format, a WAV (or
// other self-describing) stream on standard input, or raw PCM.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "options.h"
#include "sample_source.h"

namespace tesk_beat {

using tesk_pipeline::SampleSource;

// An input that cannot be used; the message names the input and the fault.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class AudioInput : public SampleSource {
 public:
  // `path` "-" reads standard input (raw PCM if `raw` is given). Messages
  // name the input by `label` (the path when empty).
  AudioInput(const std::string& path, const RawFormat* raw, const std::string& label = "");
  ~AudioInput() override;
  AudioInput(const AudioInput&) = delete;
  AudioInput& operator=(const AudioInput&) = delete;

  int sampleRate() const override { return info_.samplerate; }
  int channels() const override { return info_.channels; }
  // libsndfile's container and sample format of the input.
  int format() const { return info_.format; }
  // Frames the header announced (also when the input turns out shorter);
  // negative when unknown: a stream without a length, or a placeholder.
  int64_t announcedFrames() const { return announced_frames_; }
  const std::string& name() const { return name_; }

  // Reads up to `frames` interleaved frames into `out`; returns the number
  // read, 0 at the end. Throws InputError on NaN or infinite samples and on
  // a decoding error.
  int64_t read(float* out, int64_t frames) override;

  int64_t framesRead() const { return frames_read_; }
  // The input ended before the length its header announced.
  bool truncated() const;

 private:
  std::string name_;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  int64_t announced_frames_ = -1;
  int64_t frames_read_ = 0;
  bool header_claims_more_ = false;
};

}  // namespace tesk_beat
