#include "source_nodes.h"

#include <algorithm>
#include <complex>

#include "tesk/Exception.h"
#include "tesk/Matrix.h"

namespace tesk_pipeline {

using TESK::Matrix;
using TESK::ObjectRef;
using TESK::RCPtr;

AudioSourceNode::AudioSourceNode(const std::string& name, const Framer& framer,
                                 int64_t first_frame)
    : BufferedNode(name, TESK::ParameterSet()), framer_(framer), first_frame_(first_frame) {
  audio_id_ = addOutput("AUDIO");
}

void AudioSourceNode::calculate(int, int count, TESK::Buffer&) {
  if (count != framer_.frameIndex() - first_frame_)
    throw new TESK::NodeException(this, "audio frame " + std::to_string(count) +
                                            " is not the current frame", __FILE__, __LINE__);
  const int window = framer_.window();
  auto* m = Matrix<float>::alloc(framer_.channels(), window);
  ObjectRef frame(m);
  for (int c = 0; c < framer_.channels(); ++c)
    std::copy(framer_.channel(c), framer_.channel(c) + window, m->data() + size_t(c) * window);
  (*outputSlots[audio_id_].buffer)[count] = frame;
}

StftNode::StftNode(const std::string& name, int window, double gamma)
    : BufferedNode(name, TESK::ParameterSet()), stft_(window, gamma), mono_(window) {
  audio_id_ = addInput("AUDIO");
  fftaudio_id_ = addOutput("FFTAUDIO");
}

void StftNode::calculate(int, int count, TESK::Buffer&) {
  RCPtr<Matrix<float>> audio = getInput(audio_id_, count);
  const int rows = audio->nrows();
  const int window = stft_.window();
  if (audio->ncols() != window || rows < 1)
    throw new TESK::NodeException(this, "audio frame has the wrong size", __FILE__, __LINE__);
  const float* a = audio->data();
  if (rows == 1) {
    std::copy(a, a + window, mono_.begin());
  } else {
    const float scale = 1.0f / float(rows);
    std::fill(mono_.begin(), mono_.end(), 0.0f);
    for (int r = 0; r < rows; ++r)
      for (int j = 0; j < window; ++j) mono_[j] += a[size_t(r) * window + j];
    for (float& v : mono_) v *= scale;
  }
  auto* spectrum = Matrix<std::complex<float>>::alloc(1, stft_.bins());
  ObjectRef result(spectrum);
  stft_.transform(mono_.data(), spectrum->data());
  (*outputSlots[fftaudio_id_].buffer)[count] = result;
}

}  // namespace tesk_pipeline
