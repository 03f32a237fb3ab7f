// Mel filter bank and spectral increase.
#include <cstddef>

#include "engine/BeatTracker.h"
#include "engine/LogLines.h"

namespace beat_tracker {

// Finds, per band, the bins that can fall inside its triangle, by the same
// tests the filter applies. The set is contiguous, so a range suffices.
void BeatTracker::updateMelRanges(std::size_t spectrum_size) {
  if (spectrum_size == mel_ranges_size && !mel_first_bin.empty()) return;
  const std::size_t bands = mel_bin_edges.size() - 2;
  mel_first_bin.assign(bands, 0);
  mel_end_bin.assign(bands, 0);
  for (std::size_t i = 1; i <= bands; ++i) {
    const double lo = mel_bin_edges[i - 1];
    const double mid = mel_bin_edges[i];
    const double hi = mel_bin_edges[i + 1];
    bool found = false;
    for (std::size_t j = 0; j < spectrum_size; ++j) {
      const double x = static_cast<double>(j);
      if ((lo <= x && x <= mid) || (mid < x && x <= hi)) {
        if (!found) mel_first_bin[i - 1] = j;
        found = true;
        mel_end_bin[i - 1] = j + 1;
      }
    }
  }
  mel_ranges_size = spectrum_size;
}

std::vector<double> BeatTracker::MelFilter(RingIBuffer<std::vector<double>>& spectra) {
  const std::vector<double>& S = spectra[0];
  const std::size_t bands = mel_bin_edges.size() - 2;
  std::vector<double> M(bands, 0.0);
  updateMelRanges(S.size());
  for (std::size_t i = 1; i <= bands; ++i) {
    const double lo = mel_bin_edges[i - 1];
    const double mid = mel_bin_edges[i];
    const double hi = mel_bin_edges[i + 1];
    double sum = M[i - 1];
    for (std::size_t j = mel_first_bin[i - 1]; j < mel_end_bin[i - 1]; ++j) {
      const double x = static_cast<double>(j);
      if (lo <= x && x <= mid)
        sum += ((x - lo) * S[j]) / (mid - lo);
      else if (mid < x && x <= hi)
        sum += ((hi - x) * S[j]) / (hi - mid);
    }
    M[i - 1] = sum;
  }
  if (debug_flag) detail::writeVectorLine(mel_filter_bank_log, M);
  return M;
}

std::vector<double> BeatTracker::MakeIncSpec(RingIBuffer<std::vector<double>>& spectra) {
  const std::vector<double>& S0 = spectra[0];
  const std::vector<double>& S1 = spectra[1];
  std::vector<double> result(S0.size(), 0.0);
  for (std::size_t j = 0; j < S0.size(); ++j) {
    const double d = S0[j] - S1[j];
    result[j] = d > 0 ? d : 0.0;
  }
  return result;
}

}  // namespace beat_tracker
