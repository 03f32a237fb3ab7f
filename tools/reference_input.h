// The known signal of --reference: read whole once, before any input, and
// mixed down to mono; each input takes it at its own rate.
#pragma once

#include <string>
#include <vector>

#include "audio_input.h"

namespace tesk_beat {

struct ReferenceAudio {
  std::string name;  // "--reference PATH", for messages
  int sample_rate = 0;
  int channels = 0;  // of the file
  std::vector<float> mono;
};

// Throws InputError naming "--reference PATH": unreadable, not audio, no
// samples, NaN or infinite samples.
ReferenceAudio readReference(const std::string& path);

}  // namespace tesk_beat
