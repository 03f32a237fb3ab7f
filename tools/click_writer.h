// Writes the input mixed with a click on every announced beat: a bright,
// loud click for a reliable beat, a dull, soft one for a discarded beat.
// Audio is held back by a fixed delay so that a click can still be placed
// on a beat that was announced after its samples were read; memory stays
// bounded whatever the input length.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sample_source.h"

namespace tesk_beat {

using tesk_pipeline::SampleSource;

// The click track cannot be written where asked.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The libsndfile format of a click track named `out_name`: the container
// its extension names as libsndfile lists them (".flac" gives FLAC; ".ogg"
// and ".oga" Ogg Vorbis, ".opus" Ogg Opus, ".mp3" MPEG Layer III where this
// libsndfile writes it; none keeps the input's), with the codec the
// extension names or else the input's sample format when that container
// can hold it, else the first it can. 0 when nothing fits.
int clickTrackFormat(const std::string& out_name, int input_format, int sample_rate, int channels);

// Why no click track can be written under `out_name`'s extension (naming
// the extensions that can), or "".
std::string clickExtensionProblem(const std::string& out_name);

class ClickWriter {
 public:
  // `delay`: how far (in frames) behind the newest input a beat may fall.
  // Messages name the file `name` (the path when empty), whose extension
  // chooses the container (see clickTrackFormat).
  ClickWriter(const std::string& path, int sample_rate, int channels, int64_t delay,
              const std::string& name = "", int input_format = SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ~ClickWriter();
  ClickWriter(const ClickWriter&) = delete;
  ClickWriter& operator=(const ClickWriter&) = delete;

  // Appends `frames` interleaved input frames.
  void push(const float* samples, int64_t frames);
  // A click starting at input frame `position`.
  void click(int64_t position, bool reliable);
  // Writes out everything still held and closes the file.
  void finish();

  static int clickLength(int sample_rate) { return sample_rate * 40 / 1000; }

 private:
  void writeUpTo(int64_t end);

  struct Click {
    int64_t position;
    bool reliable;
  };

  SNDFILE* file_ = nullptr;
  std::string path_;
  int channels_;
  int64_t delay_;
  std::vector<float> reliable_click_, discarded_click_;
  std::vector<float> held_;  // interleaved frames from `held_start_` on
  int64_t held_start_ = 0;
  std::deque<Click> clicks_;
};

// A click at input frame `position`.
struct PlacedClick {
  int64_t position;
  bool reliable;
};

// Writes all of `input` through `writer` with `clicks` (in time order) mixed
// in, and finishes the file: for beats known before their audio is read
// (a second reading of the input, after offline decoding). False when
// `stop` said to stop first (the file is then left unfinished).
bool writeWithClicks(SampleSource& input, ClickWriter& writer,
                     const std::vector<PlacedClick>& clicks,
                     const std::function<bool()>& stop = nullptr);

}  // namespace tesk_beat
