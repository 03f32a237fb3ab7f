#include "bar_pointer/LogFilterbank.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace bar_pointer {

LogFilterbank::LogFilterbank(double sample_rate, int window_size, double min_frequency,
                             double max_frequency, int bands_per_octave, double reference,
                             bool unit_sum, bool ties_to_even) {
  const double bin_width = sample_rate / window_size;
  const int last_bin = window_size / 2;
  const double top = std::min(max_frequency, sample_rate / 2.0);
  // Centres on the grid reference * 2^(k / bands_per_octave), from the
  // first at or above min_frequency to the last at or below top.
  const double kmin = std::ceil(bands_per_octave * std::log2(min_frequency / reference));
  const double kmax = std::floor(bands_per_octave * std::log2(top / reference));
  std::vector<int> bins;
  for (double k = kmin; k <= kmax; k += 1.0) {
    const double f = reference * std::pow(2.0, k / bands_per_octave);
    // nearbyint rounds halves to even in the default rounding mode.
    const int b = ties_to_even ? int(std::nearbyint(f * window_size / sample_rate))
                               : int(std::lround(f / bin_width));
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
    if (!unit_sum) sum = 1.0;
    start_.push_back(lo);
    centre_.push_back(centre * bin_width);
    weight_at_.push_back(int(weights_.size()));
    length_.push_back(int(w.size()));
    for (double x : w) weights_.push_back(x / sum);
  }
}

// Each band's sum runs over its bins in order; four bands run side by side
// so that their chains of additions overlap instead of waiting on each other.
void LogFilterbank::apply(const double* magnitudes, double* out) const {
  int band = 0;
  for (; band + 4 <= bands(); band += 4) {
    const double* m[4];
    const double* w[4];
    int n[4];
    for (int k = 0; k < 4; ++k) {
      m[k] = magnitudes + start_[band + k];
      w[k] = weights_.data() + weight_at_[band + k];
      n[k] = length_[band + k];
    }
    const int common = std::min(std::min(n[0], n[1]), std::min(n[2], n[3]));
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int j = 0; j < common; ++j) {
      s0 += w[0][j] * m[0][j];
      s1 += w[1][j] * m[1][j];
      s2 += w[2][j] * m[2][j];
      s3 += w[3][j] * m[3][j];
    }
    double sum[4] = {s0, s1, s2, s3};
    for (int k = 0; k < 4; ++k) {
      for (int j = common; j < n[k]; ++j) sum[k] += w[k][j] * m[k][j];
      out[band + k] = sum[k];
    }
  }
  for (; band < bands(); ++band) {
    const double* m = magnitudes + start_[band];
    const double* w = weights_.data() + weight_at_[band];
    double sum = 0.0;
    for (int j = 0; j < length_[band]; ++j) sum += w[j] * m[j];
    out[band] = sum;
  }
}

}  // namespace bar_pointer
