#include "activation/InputFeature.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace activation {

namespace {

constexpr double kLowest = 40.0;        // Hz, centre of band 0
constexpr double kPerOctave = 8.0;
// log(1 + kCompression * a) for a band of amplitude a (1 = a full-scale
// sine): quiet passages still rise by a useful amount at -60 dB.
constexpr double kCompression = 1000.0;

}  // namespace

double InputFeature::centre(int k) { return kLowest * std::exp2(k / kPerOctave); }

InputFeature::InputFeature(double sample_rate, int window_size)
    : bins_(window_size / 2 + 1), previous_(kBands, 0.0) {
  if (!(sample_rate >= 16000.0) || window_size < 64)
    throw std::invalid_argument("activation: the input feature needs 16 kHz or more and 64 samples");
  // An unnormalised FFT of a Hann window of N samples puts a sine of
  // amplitude 1 at N / 4.
  scale_ = 4.0 / window_size;
  const double bin_hz = sample_rate / window_size;
  for (int k = 0; k < kBands; ++k) {
    // A triangle on the log-frequency axis from the centre below to the one above.
    const double lo = centre(k - 1), mid = centre(k), hi = centre(k + 1);
    Band band;
    band.first = int(std::ceil(lo / bin_hz));
    double sum = 0.0;
    for (int j = band.first; j * bin_hz < hi && j < bins_; ++j) {
      const double f = j * bin_hz;
      const double w = f <= mid ? std::log2(f / lo) / std::log2(mid / lo)
                                : std::log2(hi / f) / std::log2(hi / mid);
      band.weights.push_back(w);
      sum += w;
    }
    if (sum < 1.0) {
      // Narrower than about a bin (low bands): the spectrum interpolated at the centre.
      const double at = mid / bin_hz;
      band.first = int(std::floor(at));
      band.weights = {1.0 - (at - band.first), at - band.first};
      sum = 1.0;
    }
    for (double& w : band.weights) w /= sum;
    bands_.push_back(std::move(band));
  }
}

void InputFeature::reset() { previous_.assign(kBands, 0.0); }

void InputFeature::process(const double* magnitudes, std::size_t count, float* out) {
  if (count != std::size_t(bins_))
    throw std::invalid_argument("activation: a spectrum of the wrong size");
  for (std::size_t j = 0; j < count; ++j)
    if (!(magnitudes[j] >= 0.0 && std::isfinite(magnitudes[j])))
      throw std::invalid_argument("activation: a magnitude that is negative or not finite");
  for (int k = 0; k < kBands; ++k) {
    const Band& band = bands_[std::size_t(k)];
    double a = 0.0;
    for (std::size_t i = 0; i < band.weights.size(); ++i)
      a += band.weights[i] * magnitudes[std::size_t(band.first) + i];
    const double v = std::log1p(kCompression * scale_ * a);
    out[k] = float(v);
    out[kBands + k] = float(std::max(0.0, v - previous_[std::size_t(k)]));
    previous_[std::size_t(k)] = v;
  }
}

}  // namespace activation
