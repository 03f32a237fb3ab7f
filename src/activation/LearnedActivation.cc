#include "activation/LearnedActivation.h"

namespace activation {

LearnedActivation::LearnedActivation(double sample_rate, int window_size)
    : feature_(sample_rate, window_size),
      network_(learnedModel()),
      values_(InputFeature::kValues, 0.0f) {}

BeatProbabilities LearnedActivation::process(const double* magnitudes, std::size_t count) {
  feature_.process(magnitudes, count, values_.data());
  return network_.process(values_.data(), values_.size());
}

void LearnedActivation::reset() {
  feature_.reset();
  network_.reset();
}

}  // namespace activation
