// Short-time spectrum of one frame: periodic Hann window
// w[n] = 0.5 - 0.5*cos(2*pi*n/N), unnormalised real-to-complex FFT (FFTW,
// planned once), N/2 + 1 bins of samples in [-1, 1]. Optionally compressed
// to log(1 + gamma*|X|) with each bin's phase kept, so that loud low notes
// do not drown the onsets of everything else.
#pragma once

#include <fftw3.h>

#include <complex>
#include <vector>

namespace tesk_pipeline {

class Stft {
 public:
  Stft(int window, double gamma);
  ~Stft();
  Stft(const Stft&) = delete;
  Stft& operator=(const Stft&) = delete;

  int window() const { return window_; }
  int bins() const { return window_ / 2 + 1; }

  // `samples`: `window` values; `out`: bins() values.
  void transform(const float* samples, std::complex<float>* out);

 private:
  int window_;
  float gamma_;
  std::vector<float> taper_;
  float* in_ = nullptr;
  fftwf_complex* spectrum_ = nullptr;
  fftwf_plan plan_ = nullptr;
};

}  // namespace tesk_pipeline
