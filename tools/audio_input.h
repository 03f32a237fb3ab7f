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
  // The input ended before the length its header announced, or, raw, inside
  // a frame.
  bool truncated() const;
  // Raw PCM, once read to its end: the bytes after the last whole frame.
  int64_t strayBytes() const;

 private:
  std::string name_;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  int64_t announced_frames_ = -1;
  int64_t frames_read_ = 0;
  bool header_claims_more_ = false;
  // Raw PCM is read through a counter of its bytes: libsndfile drops an
  // incomplete last frame without a word.
  SF_VIRTUAL_IO raw_io_{};
  int64_t raw_bytes_ = -1;  // read so far; -1 unless raw
  int raw_frame_bytes_ = 0;
};

}  // namespace tesk_beat
