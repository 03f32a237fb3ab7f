// Beat times of a sound file by the bar-pointer tracker with any of its model
// settings changed, for scoring variants of the model on whole corpora
// without the plug-in. Frames as tesk-beat's at the file's own rate (46 ms
// periodic-Hann window, 10 ms advance, channels averaged); a beat is
// reported at its frame's window centre, one time a line.
//
// Usage: bar_pointer_track [offline=1] [SETTING=VALUE ...] IN
// SETTING is a member of bar_pointer::Settings, e.g. transition_lambda=300.
#include <sndfile.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bar_pointer/OnlineTracker.h"
#include "bar_pointer/ViterbiDecoder.h"
#include "stft.h"
#include "tesk-music/pipeline/settings.h"

namespace {

// The model's settings by name; the framing follows from the file.
void set(bar_pointer::Settings& s, const std::string& key, double v) {
  const std::map<std::string, double bar_pointer::Settings::*> reals = {
      {"min_frequency", &bar_pointer::Settings::min_frequency},
      {"max_frequency", &bar_pointer::Settings::max_frequency},
      {"compression", &bar_pointer::Settings::compression},
      {"high_emphasis", &bar_pointer::Settings::high_emphasis},
      {"floor_seconds", &bar_pointer::Settings::floor_seconds},
      {"floor_quantile", &bar_pointer::Settings::floor_quantile},
      {"floor_scale", &bar_pointer::Settings::floor_scale},
      {"normalisation_seconds", &bar_pointer::Settings::normalisation_seconds},
      {"min_bpm", &bar_pointer::Settings::min_bpm},
      {"max_bpm", &bar_pointer::Settings::max_bpm},
      {"transition_lambda", &bar_pointer::Settings::transition_lambda},
      {"tempo_jump_probability", &bar_pointer::Settings::tempo_jump_probability},
      {"observation_lambda", &bar_pointer::Settings::observation_lambda},
      {"min_onset", &bar_pointer::Settings::min_onset},
      {"min_beat_spacing", &bar_pointer::Settings::min_beat_spacing},
      {"confidence_seconds", &bar_pointer::Settings::confidence_seconds},
      {"confidence_half_nats", &bar_pointer::Settings::confidence_half_nats},
  };
  const std::map<std::string, int bar_pointer::Settings::*> integers = {
      {"bands_per_octave", &bar_pointer::Settings::bands_per_octave},
      {"max_filter_bands", &bar_pointer::Settings::max_filter_bands},
      {"diff_frames", &bar_pointer::Settings::diff_frames},
      {"beat_region", &bar_pointer::Settings::beat_region},
      {"announce_ahead", &bar_pointer::Settings::announce_ahead},
      {"accent_frames", &bar_pointer::Settings::accent_frames},
  };
  if (auto r = reals.find(key); r != reals.end())
    s.*(r->second) = v;
  else if (auto i = integers.find(key); i != integers.end())
    s.*(i->second) = int(std::lround(v));
  else
    throw std::invalid_argument("unknown setting " + key);
}

}  // namespace

int main(int argc, char** argv) try {
  bar_pointer::Settings s;
  bool offline = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto eq = a.find('=');
    if (eq == std::string::npos) {
      path = argv[i];
      continue;
    }
    const std::string key = a.substr(0, eq);
    char* end = nullptr;
    const double value = std::strtod(a.c_str() + eq + 1, &end);
    if (end == a.c_str() + eq + 1 || *end != '\0' || !std::isfinite(value))
      throw std::invalid_argument("not a number: " + a);
    if (key == "offline")
      offline = value != 0.0;
    else
      set(s, key, value);
  }
  SF_INFO info{};
  SNDFILE* in = path ? sf_open(path, SFM_READ, &info) : nullptr;
  if (!in) {
    std::fprintf(stderr, "usage: bar_pointer_track [offline=1] [SETTING=VALUE ...] IN\n");
    return 2;
  }
  std::vector<float> all(std::size_t(info.frames) * std::size_t(info.channels));
  sf_readf_float(in, all.data(), info.frames);
  sf_close(in);

  s.sample_rate = info.samplerate;
  s.window_size = tesk_pipeline::fftFriendlySize(int(std::lround(0.046 * info.samplerate)));
  s.hop_size = int(std::lround(0.010 * info.samplerate));
  bar_pointer::OnlineTracker online(s);
  bar_pointer::ViterbiDecoder decoder(s);
  tesk_pipeline::Stft stft(s.window_size, 0.0);
  std::vector<float> frame(std::size_t(s.window_size));
  std::vector<std::complex<float>> spectrum(std::size_t(s.bins()));
  std::vector<double> magnitudes(std::size_t(s.bins()));
  auto print = [&](int64_t f) {
    std::printf("%.4f\n", (double(f) * s.hop_size + s.window_size / 2.0) / s.sample_rate);
  };
  for (int64_t start = 0; start + s.window_size <= info.frames; start += s.hop_size) {
    for (int j = 0; j < s.window_size; ++j) {
      double sum = 0.0;
      for (int c = 0; c < info.channels; ++c)
        sum += all[std::size_t(start + j) * std::size_t(info.channels) + std::size_t(c)];
      frame[std::size_t(j)] = float(sum / info.channels);
    }
    stft.transform(frame.data(), spectrum.data());
    for (std::size_t b = 0; b < spectrum.size(); ++b) magnitudes[b] = std::abs(spectrum[b]);
    const bar_pointer::FrameResult r = online.process(magnitudes.data(), magnitudes.size());
    if (offline) {
      decoder.push(r.onset);
      for (const bar_pointer::DecodedBeat& b : decoder.takeBeats()) print(b.frame);
    } else if (r.beat) {
      print(r.beat_frame);
    }
  }
  if (offline) {
    decoder.finish();
    for (const bar_pointer::DecodedBeat& b : decoder.takeBeats()) print(b.frame);
  }
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "bar_pointer_track: %s\n", e.what());
  return 2;
}
