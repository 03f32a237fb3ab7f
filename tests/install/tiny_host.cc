// A host in a few lines, built against the installed files: loads the
// plug-in with dlopen, sees a refused setting come back as a host
// exception, then builds a "BeatTracker" node fed by a source node of its
// own and reports the beats the node announces.
// Usage: tiny_host PLUGIN local|global
#include <dlfcn.h>

#include <complex>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tesk/tesk.h"

namespace {

// A frame every 10 ms (advance 160 at 16 kHz), window 512: a loud flat
// spectrum every 60 frames, quiet ones between, so 100 beats per minute.
class ClickSource : public TESK::BufferedNode {
 public:
  ClickSource() : BufferedNode("clicks", TESK::ParameterSet()) {
    audio_id_ = addOutput("AUDIO");
    spectrum_id_ = addOutput("FFTAUDIO");
  }

 protected:
  void calculate(int, int count, TESK::Buffer&) override {
    const float level = count % 60 == 0 ? 1.0f : 0.01f;
    auto* audio = TESK::Matrix<float>::alloc(1, 512);
    TESK::ObjectRef audio_ref(audio);
    for (int j = 0; j < 512; ++j) audio->data()[j] = j % 2 ? level : -level;
    auto* spectrum = TESK::Matrix<std::complex<float> >::alloc(1, 257);
    TESK::ObjectRef spectrum_ref(spectrum);
    for (int j = 0; j < 257; ++j) spectrum->data()[j] = {level, 0.0f};
    (*outputSlots[audio_id_].buffer)[count] = audio_ref;
    (*outputSlots[spectrum_id_].buffer)[count] = spectrum_ref;
  }

 private:
  int audio_id_;
  int spectrum_id_;
};

template <class T>
TESK::ObjectRef boxed(T value) {
  return TESK::ObjectRef(TESK::NetCType<T>::alloc(value));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[2], "local") != 0 && std::strcmp(argv[2], "global") != 0)) {
    std::fprintf(stderr, "usage: tiny_host PLUGIN local|global\n");
    return 2;
  }
  const int scope = std::strcmp(argv[2], "local") == 0 ? RTLD_LOCAL : RTLD_GLOBAL;
  if (!dlopen(argv[1], RTLD_NOW | scope)) {
    std::fprintf(stderr, "tiny_host: %s\n", dlerror());
    return 1;
  }
  TESK::NodeFactoryBase* factory = TESK::Node::getFactoryNamed("BeatTracker");
  if (!factory) {
    std::fprintf(stderr, "tiny_host: loading registered no BeatTracker\n");
    return 1;
  }
  TESK::ParameterSet params;
  params.add("RELIABILITY-THRESHOLD", boxed(0.5f));
  params.add("ADVANCE", boxed(160));
  params.add("SAMPLING_RATE", boxed(16000));
  params.add("MIN_BPM", boxed(60));
  params.add("MAX_BPM", boxed(60));
  params.add("VECTOR_FLAG", boxed(false));
  params.add("LOG_FLAG", boxed(false));
  // An exception thrown inside the plug-in must be caught here by its type.
  try {
    TESK::RCPtr<TESK::Node> refused(factory->Create("refused", params));
    std::fprintf(stderr, "tiny_host: MAX_BPM = MIN_BPM was accepted\n");
    return 1;
  } catch (TESK::BaseException* e) {
    std::cout << "refused: " << e->message() << "\n";
    delete e;
  }
  params.add("MAX_BPM", boxed(120));
  try {
    TESK::RCPtr<ClickSource> source(new ClickSource);
    TESK::RCPtr<TESK::Node> tracker(factory->Create("tracker", params));
    tracker->connectToNode("AUDIO", source.get(), "AUDIO");
    tracker->connectToNode("FFTAUDIO", source.get(), "FFTAUDIO");
    tracker->initialize();
    int beats = 0, reliable = 0;
    float tempo = 0.0f;
    for (int frame = 0; frame < 1500; ++frame) {
      if (TESK::dereference_cast<bool>(tracker->getOutputNamed("BEAT_DETECTED", frame))) ++beats;
      const float t = TESK::dereference_cast<float>(tracker->getOutputNamed("TEMPO", frame));
      if (t != 0.0f) {
        ++reliable;
        tempo = t;
      }
    }
    std::cout << "tiny_host: " << beats << " beats, " << reliable << " reliable, last at "
              << tempo << " BPM\n";
  } catch (TESK::BaseException* e) {
    e->print(std::cerr);
    delete e;
    return 1;
  }
  return 0;
}
