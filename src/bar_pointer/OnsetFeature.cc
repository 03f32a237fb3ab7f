#include "bar_pointer/OnsetFeature.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bar_pointer {

namespace {

typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
typedef long long PairBits __attribute__((vector_size(2 * sizeof(double))));

// Whether every value is in [0, 1e30], two at a time: the lowest, the
// highest and whether any is NaN (-0 passes, as it does value by value).
bool allMagnitudes(const double* m, std::size_t count) {
  Pair lo = {0.0, 0.0}, hi = lo;
  PairBits nan = {0, 0};
  std::size_t k = 0;
  for (; k + 2 <= count; k += 2) {
    Pair v;
    std::memcpy(&v, m + k, sizeof v);
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
    nan |= PairBits(v != v);
  }
  bool ok = lo[0] >= 0.0 && lo[1] >= 0.0 && hi[0] <= 1e30 && hi[1] <= 1e30 && !(nan[0] | nan[1]);
  for (; k < count; ++k) ok = ok && m[k] >= 0.0 && m[k] <= 1e30;
  return ok;
}

}  // namespace

OnsetFeature::OnsetFeature(const Settings& s)
    : s_(s),
      bank_(s.sample_rate, s.window_size, s.min_frequency, s.max_frequency, s.bands_per_octave,
            s.band_reference, s.unit_sum_filters, s.snap_ties_to_even),
      bands_(bank_.bands()),
      past_(s.diff_frames, std::vector<double>(bank_.bands(), 0.0)),
      rise_history_(std::max<std::size_t>(1, std::size_t(std::lround(s.floor_seconds *
                                                                     s.framesPerSecond())))),
      norm_frames_(std::max<int64_t>(1, std::llround(s.normalisation_seconds *
                                                     s.framesPerSecond()))) {
  for (double f : bank_.centres()) emphasis_.push_back(std::pow(f / 1000.0, s.high_emphasis));
}

double OnsetFeature::process(const double* m, std::size_t count) {
  if (count != std::size_t(s_.bins()))
    throw std::invalid_argument("bar_pointer: a spectrum of " + std::to_string(count) +
                                " bins where " + std::to_string(s_.bins()) + " are expected");
  if (!allMagnitudes(m, count))
    for (std::size_t k = 0; k < count; ++k)
      if (!(m[k] >= 0.0 && m[k] <= 1e30))  // also false for NaN
        throw std::invalid_argument("bar_pointer: spectrum bin " + std::to_string(k) +
                                    " is not a finite magnitude");

  bank_.apply(m, bands_.data());
  if (s_.magnitude_scale != 1.0)
    for (double& b : bands_) b *= s_.magnitude_scale;
  if (s_.compression > 0.0)
    for (double& b : bands_) b = std::log1p(s_.compression * b);

  // The frame diff_frames back, maximum-filtered across neighbouring bands.
  std::vector<double>& ref = past_[std::size_t(frame_ % s_.diff_frames)];
  const int n = int(bands_.size()), half = s_.max_filter_bands / 2;
  double rise = 0.0;
  if (frame_ >= s_.diff_frames) {
    for (int b = 0; b < n; ++b) {
      double top = ref[b];
      for (int j = std::max(0, b - half); j <= std::min(n - 1, b + half); ++j)
        top = std::max(top, ref[j]);
      rise += emphasis_[b] * std::max(0.0, bands_[b] - top);
    }
  }
  ref = bands_;
  ++frame_;
  last_rise_ = rise;
  return normalise(std::max(0.0, rise - floorOf(rise)));
}

double OnsetFeature::floorOf(double rise) {
  // A low quantile of the earlier rises in the window: a steady noise floor
  // rises a little every frame, music rarely stays quiet for a whole window.
  const std::size_t w = rise_history_.size();
  double floor = 0.0;
  if (!sorted_.empty()) {
    const std::size_t k = std::min(sorted_.size() - 1, std::size_t(s_.floor_quantile * double(sorted_.size())));
    floor = s_.floor_scale * sorted_[k];
  }
  if (rise_count_ >= w) {
    const double old = rise_history_[rise_count_ % w];
    sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), old));
  }
  sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), rise), rise);
  rise_history_[rise_count_ % w] = rise;
  ++rise_count_;
  return s_.floor_scale > 0.0 ? floor : 0.0;
}

double OnsetFeature::normalise(double v) {
  const int64_t now = frame_ - 1;
  while (!maxima_.empty() && maxima_.back().second <= v) maxima_.pop_back();
  maxima_.emplace_back(now, v);
  while (maxima_.front().first <= now - norm_frames_) maxima_.pop_front();
  const double top = maxima_.front().second;
  return top > 0.0 ? v / top : 0.0;
}

}  // namespace bar_pointer
