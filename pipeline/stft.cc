#include "stft.h"

#include <cmath>
#include <cstring>
#include <new>

namespace tesk_pipeline {

Stft::Stft(int window, double gamma) : window_(window), gamma_(float(gamma)), taper_(window) {
  const double pi = 3.14159265358979323846;
  for (int n = 0; n < window; ++n) taper_[n] = float(0.5 - 0.5 * std::cos(2.0 * pi * n / window));
  in_ = fftwf_alloc_real(window);
  spectrum_ = fftwf_alloc_complex(window / 2 + 1);
  if (in_) plan_ = fftwf_plan_dft_r2c_1d(window, in_, spectrum_, FFTW_ESTIMATE);
  if (!in_ || !spectrum_ || !plan_) {
    if (plan_) fftwf_destroy_plan(plan_);
    fftwf_free(in_);
    fftwf_free(spectrum_);
    throw std::bad_alloc();
  }
}

Stft::~Stft() {
  fftwf_destroy_plan(plan_);
  fftwf_free(in_);
  fftwf_free(spectrum_);
}

void Stft::transform(const float* samples, std::complex<float>* out) {
  for (int n = 0; n < window_; ++n) in_[n] = samples[n] * taper_[n];
  fftwf_execute(plan_);
  const int bins = window_ / 2 + 1;
  if (!(gamma_ > 0.0f)) {
    // fftwf_complex is laid out as std::complex<float>.
    std::memcpy(static_cast<void*>(out), spectrum_, sizeof(std::complex<float>) * bins);
    return;
  }
  for (int k = 0; k < bins; ++k) {
    std::complex<float> x(spectrum_[k][0], spectrum_[k][1]);
    if (gamma_ > 0.0f) {
      float m = std::abs(x);
      x = m > 0.0f ? x * (std::log1p(gamma_ * m) / m) : std::complex<float>(0.0f, 0.0f);
    }
    out[k] = x;
  }
}

}  // namespace tesk_pipeline
