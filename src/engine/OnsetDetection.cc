// Onset vector and spectro-temporal pattern matching.
#include <algorithm>

#include "engine/BeatTracker.h"
#include "engine/LogLines.h"
#include "engine/PatternMatching.h"

namespace beat_tracker {

std::vector<double> BeatTracker::Filter3x3(RingIBuffer<std::vector<double>>& frames,
                                           int (*kernel)[3]) {
  const std::vector<double>& F0 = frames[0];
  const std::vector<double>& F1 = frames[1];
  const std::vector<double>& F2 = frames[2];
  const std::size_t L = F0.size();
  std::vector<double> O(L, 0.0);
  for (std::size_t i = 1; i + 1 < L; ++i) {
    const double sum =
        kernel[0][0] * F2[i - 1] + kernel[0][1] * F1[i - 1] + kernel[0][2] * F0[i - 1] +
        kernel[1][0] * F2[i] + kernel[1][1] * F1[i] + kernel[1][2] * F0[i] +
        kernel[2][0] * F2[i + 1] + kernel[2][1] * F1[i + 1] + kernel[2][2] * F0[i + 1];
    O[i] = sum < 0 ? 0.0 : sum;
  }
  if (debug_flag) detail::writeVectorLine(inc_mel_log, O, 1, L >= 2 ? L - 1 : 1);
  return O;
}

std::vector<double> BeatTracker::STPattanMatching(RingIBuffer<std::vector<double>>& onsets) {
  const int lags = cc_shift_end - cc_shift_start;
  std::vector<double> R(static_cast<std::size_t>(std::max(lags, 0)), 0.0);
  if (lags > 0) {
    // The engine's own history has a per-band mirror; any other ring is
    // laid out the same way first.
    const OnsetHistory* history = &onset_history;
    OnsetHistory copy;
    if (&onsets != &onset_buffer) {
      copy.reset(stpm_band_begin, stpm_band_end,
                 static_cast<std::size_t>(stpm_pattern_length + cc_shift_end - 1));
      copy.assign(onsets);
      history = &copy;
    }
    match_cross.resize(static_cast<std::size_t>(lags + detail::kLagPadding));
    match_past.resize(static_cast<std::size_t>(lags + detail::kLagPadding));
    double now = 0.0;
    detail::matchPatterns(detail::detectedSimdLevel(), history->values(), history->squares(),
                          history->stride(), history->bands(), stpm_pattern_length,
                          cc_shift_start, lags, match_cross.data(), match_past.data(), &now);
    for (int i = 0; i < lags; ++i) {
      const double cross = match_cross[static_cast<std::size_t>(i)];
      const double past = match_past[static_cast<std::size_t>(i)];
      if (now != 0 && past != 0) R[static_cast<std::size_t>(i)] = ((cross * cross) / now) / past;
    }
  }
  if (debug_flag) detail::writeVectorLine(interval_long_value_log, R);
  return R;
}

}  // namespace beat_tracker
