#ifndef TESTS_NODE_FRAME_SOURCE_H
#define TESTS_NODE_FRAME_SOURCE_H

#include <complex>
#include <functional>
#include <utility>
#include <vector>

#include "tesk/BufferedNode.h"
#include "tesk/Matrix.h"

// Hands out prepared AUDIO and FFTAUDIO matrices, one pair per frame, and
// records which frames it was asked to compute.
class FrameSource : public TESK::BufferedNode {
public:
  using Audio = TESK::Matrix<float>;
  using Spectrum = TESK::Matrix<std::complex<float> >;
  using Maker = std::function<void(int count, Audio &audio, Spectrum &spectrum)>;

  explicit FrameSource(Maker make)
      : BufferedNode("source", TESK::ParameterSet()), make(std::move(make)) {
    audio_id = addOutput("AUDIO");
    spectrum_id = addOutput("FFTAUDIO");
  }

  // Connects both inputs of `node` ("AUDIO", "FFTAUDIO") to this source.
  void feed(TESK::Node &node) {
    node.connectToNode("AUDIO", this, "AUDIO");
    node.connectToNode("FFTAUDIO", this, "FFTAUDIO");
  }

  std::vector<int> computed;

protected:
  void calculate(int, int count, TESK::Buffer &) override {
    computed.push_back(count);
    Audio *audio = new Audio();
    Spectrum *spectrum = new Spectrum();
    TESK::ObjectRef audio_ref(audio);
    TESK::ObjectRef spectrum_ref(spectrum);
    make(count, *audio, *spectrum);
    (*outputSlots[audio_id].buffer)[count] = audio_ref;
    (*outputSlots[spectrum_id].buffer)[count] = spectrum_ref;
  }

private:
  Maker make;
  int audio_id;
  int spectrum_id;
};

#endif
