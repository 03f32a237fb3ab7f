// The network run per stream: audio source -> spectrum -> the
// plug-in's tracker node ("BarPointerTracker" or "BeatTracker"), driven one
// frame at a time.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framer.h"
#include "tesk-music/pipeline/errors.h"
#include "tesk-music/pipeline/settings.h"

namespace tesk_pipeline {

struct FrameResult {
  bool beat = false;
  int beat_ahead = 0;  // bar-pointer: frames from this frame to the announced beat
  int beat_in_bar = 0;  // bar-pointer: 1 = the announced beat is a downbeat; 0 = no bar known
  float tempo = 0.0f;
  float confidence = 0.0f;
  std::vector<float> onset, stpm, chroma;  // with `vectors` only
};

class BeatNetwork {
 public:
  // Builds and initializes the network, whose frame 0 is the framer's
  // frame `first_frame`; throws NodeError. `reference`: the mono reference
  // to cancel from the input, framed alike and moved in step with
  // `framer`; null = none.
  BeatNetwork(const TrackerSettings& settings, Framer& framer, Framer* reference = nullptr,
              int64_t first_frame = 0);
  ~BeatNetwork();
  BeatNetwork(const BeatNetwork&) = delete;
  BeatNetwork& operator=(const BeatNetwork&) = delete;

  // Reads the next frame and runs it through the network; false at the end
  // of the input. Throws NodeError, or InputError from the input.
  bool step(FrameResult& result);

 private:
  struct Nodes;
  std::unique_ptr<Nodes> nodes_;
  Framer& framer_;
  Framer* reference_;
  int64_t first_frame_;
  bool vectors_;
};

}  // namespace tesk_pipeline
