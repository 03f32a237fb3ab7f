#include "file_spectra.h"

#include <sndfile.h>

#include <cmath>
#include <stdexcept>

#include "stft.h"
#include "tesk-music/pipeline/settings.h"

namespace bar_pointer_bench {

FileSpectra::FileSpectra(const std::string& path) {
  SF_INFO info{};
  SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<float> all(std::size_t(info.frames) * std::size_t(info.channels));
  sf_readf_float(in, all.data(), info.frames);
  sf_close(in);
  mono_.resize(std::size_t(info.frames));
  for (std::size_t j = 0; j < mono_.size(); ++j) {
    double sum = 0.0;
    for (int c = 0; c < info.channels; ++c) sum += all[j * std::size_t(info.channels) + std::size_t(c)];
    mono_[j] = float(sum / info.channels);
  }
  framing_.sample_rate = info.samplerate;
  framing_.window_size = tesk_pipeline::fftFriendlySize(int(std::lround(0.046 * info.samplerate)));
  framing_.hop_size = int(std::lround(0.010 * info.samplerate));
  stft_ = std::make_unique<tesk_pipeline::Stft>(framing_.window_size, 0.0);
  spectrum_.resize(std::size_t(framing_.bins()));
  magnitudes_.resize(std::size_t(framing_.bins()));
}

FileSpectra::~FileSpectra() = default;

bool FileSpectra::next() {
  const int64_t start = (frame_ + 1) * framing_.hop_size;
  if (start + framing_.window_size > int64_t(mono_.size())) return false;
  ++frame_;
  stft_->transform(mono_.data() + start, spectrum_.data());
  for (std::size_t b = 0; b < spectrum_.size(); ++b) magnitudes_[b] = std::abs(spectrum_[b]);
  return true;
}

double FileSpectra::windowEnd(int64_t frame) const {
  return (double(frame) * framing_.hop_size + framing_.window_size) / framing_.sample_rate;
}

double FileSpectra::windowCentre(int64_t frame) const {
  return (double(frame) * framing_.hop_size + framing_.window_size / 2.0) / framing_.sample_rate;
}

}  // namespace bar_pointer_bench
