// Per-frame cost of the learned activation at 44.1 kHz, window 2048, hop 441
// (100 frames per second) on a synthetic drum-and-bass loop at 128 BPM:
//
//   InputFeature        the network's input feature of one magnitude spectrum
//   Network             the shipped network alone, one precomputed feature
//   FeatureAndNetwork   LearnedActivation: both, spectrum in, probabilities out
//
// Counters: rt_factor = seconds of audio analysed per second of CPU time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

#include "Spectra.h"
#include "activation/ActivationNetwork.h"
#include "activation/InputFeature.h"
#include "activation/LearnedActivation.h"

namespace {

constexpr double kSampleRate = 44100.0;
constexpr std::size_t kWindow = 2048, kHop = 441;
constexpr std::size_t kFrames = 2000;
// Past the network's receptive field (511 frames), so that every history
// holds music before the timing starts.
constexpr std::size_t kWarmUp = 600;

// Hann-windowed magnitude spectra with all window / 2 + 1 bins.
const std::vector<std::vector<double>>& spectra() {
  static const std::vector<std::vector<double>> cached = [] {
    std::vector<double> signal =
        beat_tracker_test::drumAndBass(kSampleRate, 128.0, kFrames * kHop + kWindow);
    beat_tracker_test::Noise noise(11);
    for (double& x : signal) x += 0.02 * noise.next();
    const double pi = std::acos(-1.0);
    std::vector<std::vector<double>> result;
    std::vector<std::complex<double>> buffer(kWindow);
    for (std::size_t f = 0; f < kFrames; ++f) {
      for (std::size_t i = 0; i < kWindow; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * pi * double(i) / double(kWindow));
        buffer[i] = signal[f * kHop + i] * hann;
      }
      beat_tracker_test::fft(buffer);
      std::vector<double> magnitudes(kWindow / 2 + 1);
      for (std::size_t k = 0; k < magnitudes.size(); ++k) magnitudes[k] = std::abs(buffer[k]);
      result.push_back(std::move(magnitudes));
    }
    return result;
  }();
  return cached;
}

const std::vector<std::vector<float>>& features() {
  static const std::vector<std::vector<float>> cached = [] {
    activation::InputFeature feature(kSampleRate, int(kWindow));
    std::vector<std::vector<float>> result;
    for (const std::vector<double>& m : spectra()) {
      std::vector<float> values(activation::InputFeature::kValues);
      feature.process(m.data(), m.size(), values.data());
      result.push_back(std::move(values));
    }
    return result;
  }();
  return cached;
}

// A live stream hands over a spectrum it has just computed, still in the
// cache; the stored ones (16 MB) are not. The one after the next is fetched
// ahead so that reading them from memory is not what is timed.
void fetchAhead(const std::vector<std::vector<double>>& spectra, std::size_t next) {
  const std::vector<double>& m = spectra[next + 1 < spectra.size() ? next + 1 : kWarmUp];
  for (std::size_t k = 0; k < m.size(); k += 64 / sizeof(double)) __builtin_prefetch(&m[k]);
}

void setRate(benchmark::State& state) {
  state.counters["rt_factor"] =
      benchmark::Counter(double(kHop) / kSampleRate, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_InputFeature(benchmark::State& state) {
  const auto& m = spectra();
  activation::InputFeature feature(kSampleRate, int(kWindow));
  std::vector<float> values(activation::InputFeature::kValues);
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    feature.process(m[f].data(), m[f].size(), values.data());
    benchmark::DoNotOptimize(values.data());
    if (++f == m.size()) f = kWarmUp;
    fetchAhead(m, f);
  }
  setRate(state);
}

void BM_Network(benchmark::State& state) {
  const auto& x = features();
  activation::ActivationNetwork network(activation::learnedModel());
  for (std::size_t f = 0; f < kWarmUp; ++f) network.process(x[f].data(), x[f].size());
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(network.process(x[f].data(), x[f].size()));
    if (++f == x.size()) f = kWarmUp;
  }
  setRate(state);
}

void BM_FeatureAndNetwork(benchmark::State& state) {
  const auto& m = spectra();
  activation::LearnedActivation learned(kSampleRate, int(kWindow));
  for (std::size_t f = 0; f < kWarmUp; ++f) learned.process(m[f].data(), m[f].size());
  std::size_t f = kWarmUp;
  for (auto _ : state) {
    benchmark::DoNotOptimize(learned.process(m[f].data(), m[f].size()));
    if (++f == m.size()) f = kWarmUp;
    fetchAhead(m, f);
  }
  setRate(state);
}

}  // namespace

BENCHMARK(BM_InputFeature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Network)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FeatureAndNetwork)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
