// The two nodes that feed the BeatTracker: the audio source ("AUDIO": one
// row per channel, `window` columns, the last `advance` new on each frame)
// and the spectrum node ("FFTAUDIO": one row, the spectrum of the channel
// mean; the tracker reads row 0 only), which with a reference stream feeds
// the spectrum that remains once the reference is cancelled.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framer.h"
#include "reference_canceller.h"
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
  // `reference`: the mono reference framed as the input, moved in step
  // with it by the runner; null = no cancellation.
  StftNode(const std::string& name, int window, double gamma, const Framer* reference = nullptr);

 protected:
  void calculate(int output_id, int count, TESK::Buffer& out) override;

 private:
  Stft stft_;
  const Framer* reference_;
  std::unique_ptr<ReferenceCanceller> canceller_;
  std::vector<float> mono_;
  int audio_id_;
  int fftaudio_id_;
};

}  // namespace tesk_pipeline
