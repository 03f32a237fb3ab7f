// The two nodes that feed the BeatTracker: the audio source ("AUDIO": one
// row per channel, `window` columns, the last `advance` new on each frame)
// and the spectrum node ("FFTAUDIO": one row, the spectrum of the channel
// mean; the tracker reads row 0 only).
#pragma once

#include <string>
#include <vector>

#include "framer.h"
#include "stft.h"
#include "tesk/BufferedNode.h"

namespace tesk_pipeline {

class AudioSourceNode : public TESK::BufferedNode {
 public:
  // The node's frame 0 is the framer's frame `first_frame`.
  AudioSourceNode(const std::string& name, const Framer& framer, int64_t first_frame = 0);

 protected:
  // Frame `count` must be the framer's current frame: the runner moves the
  // framer before it asks the network for that frame.
  void calculate(int output_id, int count, TESK::Buffer& out) override;

 private:
  const Framer& framer_;
  int64_t first_frame_;
  int audio_id_;
};

class StftNode : public TESK::BufferedNode {
 public:
  StftNode(const std::string& name, int window, double gamma);

 protected:
  void calculate(int output_id, int count, TESK::Buffer& out) override;

 private:
  Stft stft_;
  std::vector<float> mono_;
  int audio_id_;
  int fftaudio_id_;
};

}  // namespace tesk_pipeline
