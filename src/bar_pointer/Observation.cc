#include "bar_pointer/Observation.h"

#include <algorithm>
#include <stdexcept>

namespace bar_pointer {

double beatLikelihoodRatio(double o, double observation_lambda, double min_onset) {
  o = std::min(std::max(o, min_onset), 1.0 - min_onset);
  return o * (observation_lambda - 1.0) / (1.0 - o);
}

BarLikelihoodRatios barLikelihoodRatios(double beat, double downbeat, double observation_lambda,
                                        double min_onset) {
  auto kept = [&](double x) { return std::min(std::max(x, min_onset), 1.0 - min_onset); };
  const double other = kept(1.0 - beat - downbeat) / (observation_lambda - 1.0);
  return {kept(downbeat) / other, kept(beat) / other};
}

void requireActivations(double beat, double downbeat) {
  // A network's softmax can sum to a little over 1 in single precision.
  if (!(beat >= 0.0 && beat <= 1.0 && downbeat >= 0.0 && downbeat <= 1.0 &&
        beat + downbeat <= 1.0 + 1e-6))
    throw std::invalid_argument(
        "bar_pointer: activations must be in [0, 1] and sum to at most 1");
}

}  // namespace bar_pointer
