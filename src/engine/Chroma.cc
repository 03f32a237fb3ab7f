// Chroma vector: the newest spectrum folded into 12 pitch classes.
#include <stdexcept>
#include <string>

#include "engine/BeatTracker.h"
#include "engine/LogLines.h"

namespace beat_tracker {

std::vector<double> BeatTracker::MakeChromaVec(RingIBuffer<std::vector<double>>& spectra) {
  const std::vector<double>& S = spectra[0];
  if (S.size() > bin_octave.size())
    throw std::invalid_argument("MakeChromaVec: spectrum has " + std::to_string(S.size()) +
                                " values, the pitch tables " + std::to_string(bin_octave.size()));
  std::vector<double> chroma(12, 0.0);
  double peak = 0.0;
  for (std::size_t i = 0; i < S.size(); ++i) {
    const int octave = static_cast<int>(bin_octave[i]);
    const int pitch_class = static_cast<int>(bin_pitch_class[i]);
    if (octave > 0 && octave <= 9) chroma[static_cast<std::size_t>(pitch_class)] += S[i];
  }
  for (int c = 0; c < 12; ++c)
    if (chroma[static_cast<std::size_t>(c)] > peak) peak = chroma[static_cast<std::size_t>(c)];
  if (peak > 0) {
    for (double& value : chroma) value = value / peak;
  } else {
    // Nothing positive to scale by: a silent frame has no pitch content.
    chroma.assign(12, 0.0);
  }
  if (debug_flag) detail::writeVectorLine(chroma_vector_log, chroma);
  return chroma;
}

}  // namespace beat_tracker
