// The learned beat and downbeat activation of a live stream: one magnitude
// spectrum in, the shipped network's probabilities out.
#pragma once

#include <cstddef>
#include <vector>

#include "activation/ActivationNetwork.h"
#include "activation/InputFeature.h"

namespace activation {

class LearnedActivation {
 public:
  // Spectra as InputFeature takes them; throws std::invalid_argument as it does.
  LearnedActivation(double sample_rate, int window_size);

  int bins() const { return feature_.bins(); }

  // One frame: `count` (= bins()) finite, non-negative magnitudes. Throws
  // std::invalid_argument for anything else, changing nothing.
  BeatProbabilities process(const double* magnitudes, std::size_t count);
  void reset();

 private:
  InputFeature feature_;
  ActivationNetwork network_;
  std::vector<float> values_;  // the current frame's feature
};

}  // namespace activation
