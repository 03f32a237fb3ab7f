#include "input_settings.h"

#include "audio_input.h"

namespace tesk_beat {

TrackerSettings trackerSettings(const Options& o, int sample_rate, int channels,
                                const std::string& input) {
  try {
    return tesk_pipeline::trackerSettings(o, sample_rate, channels);
  } catch (const tesk_pipeline::SettingsError& e) {
    throw InputError(input + ": " + e.what());
  }
}

}  // namespace tesk_beat
