#include "reference_input.h"

#include "tesk-music/pipeline/reference_signal.h"

namespace tesk_beat {

ReferenceAudio readReference(const std::string& path) {
  ReferenceAudio r;
  r.name = "--reference " + path;
  AudioInput input(path, nullptr, r.name);
  r.sample_rate = input.sampleRate();
  r.channels = input.channels();
  // Mixed down block by block: only the mono signal is ever held whole.
  std::vector<float> block(size_t(4096) * size_t(r.channels));
  while (const int64_t got = input.read(block.data(), 4096)) {
    const std::vector<float> mono =
        tesk_pipeline::monoAtRate(block.data(), got, r.channels, r.sample_rate, r.sample_rate);
    r.mono.insert(r.mono.end(), mono.begin(), mono.end());
  }
  if (r.mono.empty()) throw InputError(r.name + ": contains no audio samples");
  return r;
}

}  // namespace tesk_beat
