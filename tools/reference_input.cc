#include "reference_input.h"

#include "tesk-music/pipeline/reference_signal.h"

namespace tesk_beat {

ReferenceAudio readReference(const std::string& path) {
  ReferenceAudio r;
  r.name = "--reference " + path;
  AudioInput input(path, nullptr, r.name);
  r.sample_rate = input.sampleRate();
  r.channels = input.channels();
  std::vector<float> all, block(size_t(4096) * size_t(r.channels));
  while (const int64_t got = input.read(block.data(), 4096))
    all.insert(all.end(), block.begin(), block.begin() + got * r.channels);
  if (all.empty()) throw InputError(r.name + ": contains no audio samples");
  r.mono = tesk_pipeline::monoAtRate(all.data(), int64_t(all.size()) / r.channels, r.channels,
                                     r.sample_rate, r.sample_rate);
  return r;
}

}  // namespace tesk_beat
