// Per-frame cost of the bar-pointer tracker at its default settings (44.1 kHz,
// window 2048, hop 441: 100 frames per second) on a synthetic drum-and-bass
// loop at 128 BPM with a noise floor about -34 dB below it:
//
//   OnsetFeature          the onset feature of one magnitude spectrum
//   ProcessOnset          the state space alone: filter step, next beat,
//                         confidence, tempo from a precomputed onset feature
//   Process               both together, spectrum in, FrameResult out
//   ViterbiPush           the offline decoder, one onset feature
//
// and with bars of 2, 3 and 4 beats, on activations of the loop's beats in
// 4/4 as a learned network would give them:
//
//   ProcessActivationsBars  online, the state space alone
//   ViterbiPushBars         offline
//
// Counters: rt_factor = seconds of audio analysed per second of CPU time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

#include "Spectra.h"
#include "bar_pointer/OnlineTracker.h"
#include "bar_pointer/OnsetFeature.h"
#include "bar_pointer/ViterbiDecoder.h"

namespace {

using bar_pointer::Settings;

// 40 s of music: longer than any window of the tracker, so that the cycle
// restarting does not show.
constexpr std::size_t kFrames = 4000;
// The tracker settles on the tempo before it is timed.
constexpr std::size_t kWarmUp = 1000;

// Hann-windowed magnitude spectra with all window / 2 + 1 bins, as the
// tracker takes them.
std::vector<std::vector<double>> magnitudeSpectra(const std::vector<double>& signal,
                                                  const Settings& s) {
  const std::size_t window = std::size_t(s.window_size), hop = std::size_t(s.hop_size);
  const double pi = std::acos(-1.0);
  std::vector<std::vector<double>> spectra;
  std::vector<std::complex<double>> buffer(window);
  for (std::size_t f = 0; f < kFrames; ++f) {
    for (std::size_t i = 0; i < window; ++i) {
      const std::size_t at = f * hop + i;
      const double hann = 0.5 - 0.5 * std::cos(2.0 * pi * double(i) / double(window));
      buffer[i] = at < signal.size() ? signal[at] * hann : 0.0;
    }
    beat_tracker_test::fft(buffer);
    std::vector<double> magnitudes(std::size_t(s.bins()));
    for (std::size_t k = 0; k < magnitudes.size(); ++k) magnitudes[k] = std::abs(buffer[k]);
    spectra.push_back(std::move(magnitudes));
  }
  return spectra;
}

const std::vector<std::vector<double>>& spectra() {
  static const std::vector<std::vector<double>> cached = [] {
    const Settings s;
    std::vector<double> signal = beat_tracker_test::drumAndBass(
        s.sample_rate, 128.0, kFrames * std::size_t(s.hop_size) + std::size_t(s.window_size));
    beat_tracker_test::Noise noise(11);
    for (double& x : signal) x += 0.02 * noise.next();
    return magnitudeSpectra(signal, s);
  }();
  return cached;
}

// The onset features of the spectra, for the benchmarks of the state space.
const std::vector<double>& onsets() {
  static const std::vector<double> cached = [] {
    bar_pointer::OnsetFeature feature{Settings()};
    std::vector<double> values;
    for (const std::vector<double>& m : spectra()) values.push_back(feature.process(m.data(), m.size()));
    return values;
  }();
  return cached;
}

// Beat and downbeat activations at 128 BPM in 4/4: 0.8 on the beat (of
// the downbeat class on the first of the bar) fading over two frames, up to
// 0.1 of each class anywhere.
const std::vector<std::pair<double, double>>& activations() {
  static const std::vector<std::pair<double, double>> cached = [] {
    std::vector<std::pair<double, double>> values;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> noise(0.0, 0.1);
    const double period = 6000.0 / 128.0;
    for (std::size_t f = 0; f < kFrames; ++f) {
      const double beats = f / period, since = (beats - std::floor(beats)) * period;
      double b = noise(rng), d = noise(rng);
      if (since < 3.0) (std::llround(std::floor(beats)) % 4 == 0 ? d : b) = 0.8 / (1 << int(since));
      values.push_back({b, d});
    }
    return values;
  }();
  return cached;
}

Settings barSettings() {
  Settings s;
  s.activation = Settings::Activation::kLearned;
  s.bar_lengths = {2, 3, 4};
  return s;
}

// The tool hands the tracker a spectrum it has just computed, still in the
// cache; the stored spectra (33 MB) are not. The one after the next is
// fetched ahead so that reading them from memory is not what is timed.
void fetchAhead(const std::vector<std::vector<double>>& spectra, std::size_t next) {
  const std::vector<double>& m = spectra[next + 1 < spectra.size() ? next + 1 : kWarmUp];
  for (std::size_t k = 0; k < m.size(); k += 64 / sizeof(double)) __builtin_prefetch(&m[k]);
}

void setRate(benchmark::State& state) {
  const Settings s;
  state.counters["rt_factor"] = benchmark::Counter(
      double(s.hop_size) / s.sample_rate, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_OnsetFeature(benchmark::State& state) {
  const auto& m = spectra();
  bar_pointer::OnsetFeature feature{Settings()};
  for (std::size_t f = 0; f < kWarmUp; ++f) feature.process(m[f].data(), m[f].size());
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(feature.process(m[f].data(), m[f].size()));
    if (++f == m.size()) f = kWarmUp;
    fetchAhead(m, f);
  }
  setRate(state);
}

void BM_ProcessOnset(benchmark::State& state) {
  const auto& o = onsets();
  bar_pointer::OnlineTracker tracker{Settings()};
  for (std::size_t f = 0; f < kWarmUp; ++f) tracker.processOnset(o[f]);
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    bar_pointer::FrameResult r = tracker.processOnset(o[f]);
    benchmark::DoNotOptimize(r);
    if (++f == o.size()) f = kWarmUp;
  }
  setRate(state);
}

void BM_Process(benchmark::State& state) {
  const auto& m = spectra();
  bar_pointer::OnlineTracker tracker{Settings()};
  for (std::size_t f = 0; f < kWarmUp; ++f) tracker.process(m[f].data(), m[f].size());
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    bar_pointer::FrameResult r = tracker.process(m[f].data(), m[f].size());
    benchmark::DoNotOptimize(r);
    if (++f == m.size()) f = kWarmUp;
    fetchAhead(m, f);
  }
  setRate(state);
}

// Runs long enough to fill a segment (10 minutes of frames) include its
// trace-back, spread over the segment's frames as it is in use.
void BM_ViterbiPush(benchmark::State& state) {
  const auto& o = onsets();
  bar_pointer::ViterbiDecoder decoder{Settings()};
  std::size_t f = 0;
  for (auto _ : state) {
    decoder.push(o[f]);
    if (++f == o.size()) f = 0;
  }
  setRate(state);
}

void BM_ProcessActivationsBars(benchmark::State& state) {
  const auto& x = activations();
  bar_pointer::OnlineTracker tracker{barSettings()};
  for (std::size_t f = 0; f < kWarmUp; ++f) tracker.processActivations(x[f].first, x[f].second);
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    bar_pointer::FrameResult r = tracker.processActivations(x[f].first, x[f].second);
    benchmark::DoNotOptimize(r);
    if (++f == x.size()) f = kWarmUp;
  }
  setRate(state);
}

void BM_ViterbiPushBars(benchmark::State& state) {
  const auto& x = activations();
  bar_pointer::ViterbiDecoder decoder{barSettings()};
  std::size_t f = 0;
  for (auto _ : state) {
    decoder.pushActivations(x[f].first, x[f].second);
    if (++f == x.size()) f = 0;
  }
  setRate(state);
}

}  // namespace

BENCHMARK(BM_OnsetFeature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessOnset)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Process)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViterbiPush)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessActivationsBars)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViterbiPushBars)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
