// Per-frame cost of BeatTracker::analyze on a synthetic drum-and-bass signal,
// and the heap the engine holds.
//
//   A: 16000 Hz, window 512, shift 160, intervals 51..99 frames (60-117 BPM)
//   B: 44100 Hz, window 4096, shift 512, intervals 26..86 frames (60-198 BPM)
//
// Counters: rt_factor = seconds of audio analysed per second of CPU time,
// engine_MiB = heap held by one engine (measured around its construction).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Spectra.h"
#include "engine/BeatTracker.h"
#include "engine/OnsetHistory.h"
#include "engine/PatternMatching.h"

namespace {

struct Setting {
  const char* name;
  double fs;
  unsigned long window;
  unsigned long shift;
  double start;
  double end;
  double bpm;
  std::size_t frames;
};

const Setting kA{"A", 16000.0, 512, 160, 51.0, 100.0, 100.0, 1500};
const Setting kB{"B", 44100.0, 4096, 512, 26.0, 87.0, 120.0, 1000};

const std::vector<std::vector<double>>& spectraFor(const Setting& s) {
  static std::map<std::string, std::vector<std::vector<double>>> cache;
  auto it = cache.find(s.name);
  if (it == cache.end()) {
    const auto signal =
        beat_tracker_test::drumAndBass(s.fs, s.bpm, s.frames * s.shift + s.window);
    it = cache.emplace(s.name, beat_tracker_test::magnitudeSpectra(signal, s.window, s.shift, s.frames))
             .first;
  }
  return it->second;
}

// Diagnostic files are created even when they stay empty: keep them out of
// the working directory.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bt_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string prefix() const { return path + "/"; }

 private:
  std::string path;
};

std::size_t heapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void analyzeFrame(benchmark::State& state, const Setting& s) {
  const auto& spectra = spectraFor(s);
  ScratchDir dir;
  beat_tracker::BeatTrackerInit init;
  init.setInputSignal(s.fs, s.window, s.shift);
  init.setCCValues(s.end, s.start, s.end);
  init.setDebugFlag(false, dir.prefix());

  std::unique_ptr<beat_tracker::BeatTracker> engine;
  std::ostringstream console;
  std::streambuf* old = std::cout.rdbuf(console.rdbuf());
  const std::size_t before = heapInUse();
  engine = std::make_unique<beat_tracker::BeatTracker>(init);
  const std::size_t engine_bytes = heapInUse() - before;

  // Settle on the music first, so that the beat search and the walk run.
  const std::size_t warm_up = 600;
  for (std::size_t f = 0; f < warm_up; ++f) benchmark::DoNotOptimize(engine->analyze(spectra[f]));
  std::size_t f = warm_up;
  for (auto _ : state) {
    beat_tracker::BeatTrackerData result = engine->analyze(spectra[f]);
    benchmark::DoNotOptimize(result);
    if (++f == spectra.size()) f = warm_up;
  }
  std::cout.rdbuf(old);

  state.counters["rt_factor"] = benchmark::Counter(static_cast<double>(s.shift) / s.fs,
                                                   benchmark::Counter::kIsIterationInvariantRate);
  state.counters["engine_MiB"] = static_cast<double>(engine_bytes) / (1024.0 * 1024.0);
}

void BM_AnalyzeA(benchmark::State& state) { analyzeFrame(state, kA); }
void BM_AnalyzeB(benchmark::State& state) { analyzeFrame(state, kB); }

// The pattern-matching sums alone, per instruction set (setting A sizes).
void BM_PatternMatching(benchmark::State& state) {
  using namespace beat_tracker::detail;
  const SimdLevel level = static_cast<SimdLevel>(state.range(0));
  if (!simdLevelSupported(level)) {
    state.SkipWithError("instruction set not available on this CPU");
    return;
  }
  beat_tracker::OnsetHistory history;
  history.reset(1, 63, 199);
  beat_tracker_test::Noise noise(3);
  for (int f = 0; f < 400; ++f) {
    std::vector<double> onset(64, 0.0);
    for (int b = 1; b < 63; ++b) onset[b] = std::fabs(noise.next());
    history.push(onset);
  }
  std::vector<double> cross(49 + kLagPadding), past(49 + kLagPadding);
  double now = 0;
  for (auto _ : state) {
    matchPatterns(level, history.values(), history.squares(), history.stride(), history.bands(), 100,
                  51, 49, cross.data(), past.data(), &now);
    benchmark::DoNotOptimize(cross.data());
    benchmark::DoNotOptimize(now);
  }
}

}  // namespace

BENCHMARK(BM_AnalyzeA)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_AnalyzeB)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(BM_PatternMatching)
    ->ArgName("simd")
    ->Arg(static_cast<int>(beat_tracker::detail::SimdLevel::kBaseline))
    ->Arg(static_cast<int>(beat_tracker::detail::SimdLevel::kAvx2))
    ->Arg(static_cast<int>(beat_tracker::detail::SimdLevel::kAvx512))
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
