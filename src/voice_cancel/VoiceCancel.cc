#include "voice_cancel/VoiceCancel.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "voice_cancel/calloc2dim.h"

namespace {

// The canceller's fixed configuration: taps fall from 8 at bin 0 towards 5
// at the top bin, on consecutive frames; the means stay at zero.
constexpr int kFirstTaps = 8;
constexpr int kLastTaps = 5;
constexpr int kTapSpacing = 1;
constexpr double kInitOutScale = 1.0;
constexpr double kInitRefScale = 1.0;
constexpr double kStep = 0.01;
constexpr double kOutScaleRate = 0.01;
constexpr double kRefScaleRate = 0.01;
constexpr double kMeanRate = 0.0;
constexpr double kPowerFloor = 0.0001;

}  // namespace

VoiceCancel::VoiceCancel(unsigned long nfft)
    : mixture(nullptr), reference(nullptr), output(nullptr), separator(nullptr), nfft(nfft) {
  // The bank takes the length as an int; a larger one cannot be honoured.
  if (nfft == 0 || nfft > static_cast<unsigned long>(INT_MAX)) {
    throw std::invalid_argument("VoiceCancel: FFT length must lie between 1 and INT_MAX");
  }
  const unsigned bins = static_cast<unsigned>(this->nfft / 2 + 1);
  reference = reinterpret_cast<double**>(calloc2dim(8, bins, 2));
  if (reference != nullptr) {
    mixture = reinterpret_cast<double**>(calloc2dim(8, bins, 2));
  }
  if (mixture != nullptr) {
    output = reinterpret_cast<double**>(calloc2dim(8, bins, 2));
  }
  if (output != nullptr) {
    separator = new_SemiBlind(nullptr, static_cast<int>(nfft), kFirstTaps, kLastTaps,
                              kTapSpacing, kInitOutScale, kInitRefScale, kStep, kOutScaleRate,
                              kRefScaleRate, kMeanRate, kPowerFloor);
  }
  // Never a half-built canceller: release what was allocated.
  if (separator == nullptr) {
    std::free(reference);
    std::free(mixture);
    std::free(output);
    throw std::bad_alloc();
  }
}

VoiceCancel::~VoiceCancel() {
  delete_SemiBlind(separator, nullptr);
  separator = nullptr;
  std::free(reference);
  reference = nullptr;
  std::free(mixture);
  mixture = nullptr;
  std::free(output);
  output = nullptr;
}

int VoiceCancel::ExecuteVoiceCancel(std::vector<FftComplex> reference,
                                    std::vector<FftComplex> mixture,
                                    std::vector<double>& magnitude) {
  const std::uint64_t bins = nfft / 2 + 1;
  if (reference.size() != bins || mixture.size() != bins || magnitude.size() != bins) {
    return -1;
  }
  for (std::uint64_t i = 0; i < bins; ++i) {
    this->mixture[i][0] = mixture[i].re;
    this->mixture[i][1] = mixture[i].im;
  }
  for (std::uint64_t i = 0; i < bins; ++i) {
    this->reference[i][0] = reference[i].re;
    this->reference[i][1] = reference[i].im;
  }
  separate_SemiBlind(separator, this->mixture, output, this->reference, 1);
  for (std::uint64_t i = 0; i < bins; ++i) {
    const double re = output[i][0];
    const double im = output[i][1];
    magnitude[i] = std::sqrt(re * re + im * im);
  }
  return 0;
}
