// Writes the input mixed with a click on every announced beat: a bright,
// loud click for a reliable beat, a dull, soft one for a discarded beat.
// Audio is held back by a fixed delay so that a click can still be placed
// on a beat that was announced after its samples were read; memory stays
// bounded whatever the input length.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "sample_source.h"

namespace tesk_beat {

// The click track cannot be written where asked.
struct OutputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ClickWriter {
 public:
  // `delay`: how far (in frames) behind the newest input a beat may fall.
  // Messages name the file `name` (the path when empty).
  ClickWriter(const std::string& path, int sample_rate, int channels, int64_t delay,
              const std::string& name = "");
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
// (a second reading of the input, after offline decoding).
void writeWithClicks(SampleSource& input, ClickWriter& writer,
                     const std::vector<PlacedClick>& clicks);

}  // namespace tesk_beat
