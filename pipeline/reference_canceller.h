// Removes a known reference signal from the input's spectrum, frame by
// frame: both frames are transformed uncompressed (periodic Hann window,
// as Stft), the voice canceller adapts a few-tap filter per bin across
// frames that predicts how the reference shows in the input, and what it
// cannot explain is kept: each bin of the input keeps its phase and takes
// the remaining magnitude, compressed to log(1 + gamma*M) as Stft does
// (gamma 0 = linear).
//
// The canceller draws from the process-wide rand() (never seeded): the
// same stream gives the same spectra in a fresh process, so tesk-beat's
// inputs, each tracked in a forked worker, are reproducible; two
// cancelling trackers in one process depend on each other's order.
#pragma once

#include <complex>
#include <vector>

#include "stft.h"
#include "voice_cancel/FftComplex.h"
#include "voice_cancel/VoiceCancel.h"

namespace tesk_pipeline {

class ReferenceCanceller {
 public:
  ReferenceCanceller(int window, double gamma);

  int window() const { return input_stft_.window(); }
  int bins() const { return input_stft_.bins(); }

  // `input`, `reference`: one frame of `window` mono samples each;
  // `out`: bins() values. Adapts the canceller: call once per frame, in order.
  void transform(const float* input, const float* reference, std::complex<float>* out);

 private:
  Stft input_stft_;
  Stft reference_stft_;
  VoiceCancel canceller_;
  double gamma_;
  std::vector<std::complex<float>> input_spectrum_, reference_spectrum_;
  std::vector<FftComplex> input_bins_, reference_bins_;
  std::vector<double> remaining_;
};

}  // namespace tesk_pipeline
