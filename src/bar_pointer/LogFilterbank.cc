#include "bar_pointer/LogFilterbank.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace bar_pointer {

LogFilterbank::LogFilterbank(double sample_rate, int window_size, double min_frequency,
                             double max_frequency, int bands_per_octave) {
  const double bin_width = sample_rate / window_size;
  const int last_bin = window_size / 2;
  const double top = std::min(max_frequency, sample_rate / 2.0);
  // Centres on the grid 440 * 2^(k / bands_per_octave), from the first at
  // or above min_frequency to the last at or below top.
  const double kmin = std::ceil(bands_per_octave * std::log2(min_frequency / 440.0));
  const double kmax = std::floor(bands_per_octave * std::log2(top / 440.0));
  std::vector<int> bins;
  for (double k = kmin; k <= kmax; k += 1.0) {
    const int b = int(std::lround(440.0 * std::pow(2.0, k / bands_per_octave) / bin_width));
    if (b >= 0 && b <= last_bin && (bins.empty() || b > bins.back())) bins.push_back(b);
  }
  if (bins.size() < 3)
    throw std::invalid_argument(
        "bar_pointer: the frequency range holds too few FFT bins for a filterbank");

  for (size_t i = 0; i + 2 < bins.size(); ++i) {
    const int lo = bins[i], centre = bins[i + 1], hi = bins[i + 2];
    std::vector<double> w;
    for (int b = lo; b < centre; ++b) w.push_back(double(b - lo) / (centre - lo));
    for (int b = centre; b < hi; ++b) w.push_back(1.0 - double(b - centre) / (hi - centre));
    double sum = 0.0;
    for (double x : w) sum += x;
    start_.push_back(lo);
    centre_.push_back(centre * bin_width);
    weight_at_.push_back(int(weights_.size()));
    length_.push_back(int(w.size()));
    for (double x : w) weights_.push_back(x / sum);
  }
}

void LogFilterbank::apply(const double* magnitudes, double* out) const {
  for (int band = 0; band < bands(); ++band) {
    const double* m = magnitudes + start_[band];
    const double* w = weights_.data() + weight_at_[band];
    double sum = 0.0;
    for (int j = 0; j < length_[band]; ++j) sum += w[j] * m[j];
    out[band] = sum;
  }
}

}  // namespace bar_pointer
