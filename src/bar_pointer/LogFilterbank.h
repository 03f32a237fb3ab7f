// Triangular filters on a logarithmic frequency axis: `bands_per_octave`
// per octave, centred on the grid reference * 2^(k / bands_per_octave),
// each normalised to unit sum or to a peak of 1. At low frequencies, where neighbouring centres fall on the same FFT
// bin, duplicates are merged, so every band sees at least one bin of its own.
#pragma once

#include <vector>

namespace bar_pointer {

class LogFilterbank {
 public:
  // Throws std::invalid_argument if the range holds fewer than 3 distinct bins.
  LogFilterbank(double sample_rate, int window_size, double min_frequency, double max_frequency,
                int bands_per_octave, double reference = 440.0, bool unit_sum = true,
                bool ties_to_even = false);

  int bands() const { return int(start_.size()); }
  // Centre frequency of each band, Hz.
  const std::vector<double>& centres() const { return centre_; }
  // `magnitudes`: window_size / 2 + 1 values; `out`: bands() values.
  void apply(const double* magnitudes, double* out) const;

 private:
  std::vector<int> start_;       // first bin of each band
  std::vector<int> weight_at_;   // where its weights begin in weights_
  std::vector<int> length_;
  std::vector<double> weights_;
  std::vector<double> centre_;
};

}  // namespace bar_pointer
