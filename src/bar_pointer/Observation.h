// What one frame tells the model: the likelihood of a beat state relative
// to any other state (their common factor cancels in the normalisation, so
// only the beat states are weighed each frame).
#pragma once

namespace bar_pointer {

// Likelihood ratio of a beat state to any other for onset feature `o`
// (finite), with o kept within [min_onset, 1 - min_onset].
double beatLikelihoodRatio(double o, double observation_lambda, double min_onset);

// Likelihood ratios of the downbeat's states and of the other beats'
// states to any other state, for activations `beat` and `downbeat`: d, b
// and 1 - b - d kept within [min_onset, 1 - min_onset].
struct BarLikelihoodRatios {
  double downbeat;
  double beat;
};
BarLikelihoodRatios barLikelihoodRatios(double beat, double downbeat, double observation_lambda,
                                        double min_onset);

// Throws std::invalid_argument unless `beat` and `downbeat` are finite,
// each in [0, 1], and sum to at most 1 (and a rounding error).
void requireActivations(double beat, double downbeat);

}  // namespace bar_pointer
