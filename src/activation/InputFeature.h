// What the activation network reads per frame, from one magnitude spectrum:
// `kBands` log-compressed bands on a fixed logarithmic frequency grid (40 Hz
// to 7.2 kHz, 8 per octave, so that every rate from 16 kHz up gives the same
// values), followed by each band's rise over the previous frame.
#pragma once

#include <cstddef>
#include <vector>

namespace activation {

class InputFeature {
 public:
  static constexpr int kBands = 61;
  static constexpr int kValues = 2 * kBands;

  // Spectra of a real FFT of `window_size` samples (window_size / 2 + 1
  // magnitudes) of a Hann-windowed frame at `sample_rate`; throws
  // std::invalid_argument if the rate is below 16 kHz or the window shorter
  // than 64 samples.
  InputFeature(double sample_rate, int window_size);

  // Band centre k, Hz.
  static double centre(int k);
  int bins() const { return bins_; }

  // One frame: `count` (= bins()) finite, non-negative magnitudes in,
  // kValues values out. Throws std::invalid_argument for anything else,
  // changing nothing.
  void process(const double* magnitudes, std::size_t count, float* out);
  void reset();

 private:
  struct Band {
    int first;                    // first bin
    std::vector<double> weights;  // over bins first .., summing to 1
  };
  int bins_;
  double scale_;  // a full-scale sine's peak bin to about 1
  std::vector<Band> bands_;
  std::vector<double> previous_;
};

}  // namespace activation
