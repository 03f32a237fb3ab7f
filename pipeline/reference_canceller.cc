#include "reference_canceller.h"

#include <cmath>
#include <stdexcept>

namespace tesk_pipeline {

ReferenceCanceller::ReferenceCanceller(int window, double gamma)
    : input_stft_(window, 0.0),
      reference_stft_(window, 0.0),
      canceller_(static_cast<unsigned long>(window)),
      gamma_(gamma),
      input_spectrum_(input_stft_.bins()),
      reference_spectrum_(input_stft_.bins()),
      input_bins_(input_stft_.bins(), FftComplex(0.0, 0.0)),
      reference_bins_(input_stft_.bins(), FftComplex(0.0, 0.0)),
      remaining_(input_stft_.bins()) {}

void ReferenceCanceller::transform(const float* input, const float* reference,
                                   std::complex<float>* out) {
  input_stft_.transform(input, input_spectrum_.data());
  reference_stft_.transform(reference, reference_spectrum_.data());
  const int n = bins();
  for (int k = 0; k < n; ++k) {
    input_bins_[k] = FftComplex(input_spectrum_[k].real(), input_spectrum_[k].imag());
    reference_bins_[k] = FftComplex(reference_spectrum_[k].real(), reference_spectrum_[k].imag());
  }
  if (canceller_.ExecuteVoiceCancel(reference_bins_, input_bins_, remaining_) != 0)
    throw std::logic_error("the voice canceller was given spectra of the wrong size");
  for (int k = 0; k < n; ++k) {
    const std::complex<double> x(input_spectrum_[k]);
    const double magnitude = std::abs(x);
    const double kept = gamma_ > 0.0 ? std::log1p(gamma_ * remaining_[k]) : remaining_[k];
    out[k] = magnitude > 0.0 ? std::complex<float>(x * (kept / magnitude))
                             : std::complex<float>(0.0f, 0.0f);
  }
}

}  // namespace tesk_pipeline
