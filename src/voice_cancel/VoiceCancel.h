#ifndef VOICE_CANCEL_VOICE_CANCEL_H
#define VOICE_CANCEL_VOICE_CANCEL_H

#include <cstdint>
#include <vector>

#include "voice_cancel/FftComplex.h"
#include "voice_cancel/SemiBlind.h"

// Removes a known reference spectrum from a mixture spectrum, frame by
// frame, with one adaptive canceller per bin, and returns the magnitude of
// what remains.
class VoiceCancel {
public:
  // Throws std::invalid_argument when nfft is 0 or larger than INT_MAX and
  // std::bad_alloc when memory runs out.
  explicit VoiceCancel(unsigned long nfft);
  ~VoiceCancel();

  VoiceCancel(const VoiceCancel&) = delete;
  VoiceCancel& operator=(const VoiceCancel&) = delete;

  // Every vector must hold nfft/2 + 1 elements; otherwise returns -1 and
  // changes nothing. On success magnitude receives the modulus of each
  // separated bin (bins 0 and 1 are always 0) and 0 is returned.
  int ExecuteVoiceCancel(std::vector<FftComplex> reference, std::vector<FftComplex> mixture,
                         std::vector<double>& magnitude);

private:
  double** mixture;
  double** reference;
  double** output;
  SemiBlind* separator;
  std::uint64_t nfft;
};

#endif
