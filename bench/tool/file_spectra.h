// A sound file's magnitude spectra as the bar-pointer tracker's bench tool
// frames them, at the file's own rate: channels averaged, a 46 ms window
// (the FFT-friendly size at or above it) every 10 ms, frame k covering
// samples k * hop .. k * hop + window, as long as the window fits.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bar_pointer/Settings.h"

namespace tesk_pipeline {
class Stft;
}

namespace bar_pointer_bench {

class FileSpectra {
 public:
  // Throws std::runtime_error if the file cannot be read.
  explicit FileSpectra(const std::string& path);
  ~FileSpectra();

  // sample_rate, window_size and hop_size; the rest at their defaults.
  const bar_pointer::Settings& framing() const { return framing_; }
  // Moves to the next frame; false when no further window fits.
  bool next();
  int64_t frame() const { return frame_; }
  const std::vector<double>& magnitudes() const { return magnitudes_; }

  // Where a frame's window ends (when it has all been heard) and its centre, seconds.
  double windowEnd(int64_t frame) const;
  double windowCentre(int64_t frame) const;

 private:
  bar_pointer::Settings framing_;
  std::vector<float> mono_;
  std::unique_ptr<tesk_pipeline::Stft> stft_;
  std::vector<std::complex<float>> spectrum_;
  std::vector<double> magnitudes_;
  int64_t frame_ = -1;
};

}  // namespace bar_pointer_bench
