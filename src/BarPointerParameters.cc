#include "BarPointerParameters.h"

#include "bar_pointer/Presets.h"

bar_pointer::Settings barPointerSettings(const BarPointerParameters &p) {
  bar_pointer::Settings s =
      p.activation == bar_pointer::Settings::Activation::kLearned ? bar_pointer::learnedModel()
                                                                  : bar_pointer::Settings{};
  s.sample_rate = p.sampling_rate;
  s.window_size = p.window;
  s.hop_size = p.advance;
  s.min_bpm = p.min_bpm;
  s.max_bpm = p.max_bpm;
  if (p.announce_ahead) s.announce_ahead = *p.announce_ahead;
  if (p.compression) s.compression = *p.compression;
  if (p.transition_lambda) s.transition_lambda = *p.transition_lambda;
  if (p.observation_lambda) s.observation_lambda = *p.observation_lambda;
  return s;
}
