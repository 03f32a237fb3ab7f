// Onset filter and spectro-temporal pattern matching.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/OnsetHistory.h"
#include "engine/PatternMatching.h"
#include "support/EngineTestSupport.h"
#include "support/Spectra.h"

using beat_tracker::BeatTracker;
using beat_tracker_test::makeInit;
using beat_tracker_test::sameBits;
using beat_tracker_test::StreamCapture;
using beat_tracker_test::TempDir;

namespace {

int engine_kernel[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};

RingIBuffer<std::vector<double>> onsetRing() {
  RingIBuffer<std::vector<double>> ring(3000);
  ring.init(std::vector<double>(64, 0.0));
  return ring;
}

// Random onset vectors: non-negative, with exact zeros, tiny and large values.
void fillRandom(RingIBuffer<std::vector<double>>& ring, int frames, std::uint64_t seed) {
  beat_tracker_test::Noise noise(seed);
  for (int f = 0; f < frames; ++f) {
    std::vector<double> onset(64, 0.0);
    for (int b = 1; b < 63; ++b) {
      const double u = noise.next();
      if (u < -0.4) continue;
      onset[b] = std::fabs(noise.next()) * (u > 0.9 ? 1e6 : u > 0.8 ? 1e-300 : 3.0);
    }
    ring.push_back(onset);
  }
}

}  // namespace

TEST(Filter3x3, BandJumpSpreadsToNeighboursThenVanishes) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  RingIBuffer<std::vector<double>> mel(3);
  mel.init(std::vector<double>(64, 0.0));
  std::vector<double> frame(64, 0.0);
  frame[10] = 4.0;
  mel.push_back(frame);
  std::vector<double> onset = engine->Filter3x3(mel, engine_kernel);
  std::vector<double> expected(64, 0.0);
  expected[9] = 4.0;
  expected[10] = 8.0;
  expected[11] = 4.0;
  EXPECT_EQ(onset, expected);
  mel.push_back(frame);
  EXPECT_EQ(engine->Filter3x3(mel, engine_kernel), expected);  // the middle frame has weight 0
  mel.push_back(frame);
  EXPECT_EQ(engine->Filter3x3(mel, engine_kernel), std::vector<double>(64, 0.0));
}

TEST(Filter3x3, EdgeBandsShowOnlyInTheirNeighbour) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  RingIBuffer<std::vector<double>> mel(3);
  mel.init(std::vector<double>(64, 0.0));
  std::vector<double> frame(64, 0.0);
  frame[0] = 1.5;
  frame[63] = 2.5;
  mel.push_back(frame);
  std::vector<double> expected(64, 0.0);
  expected[1] = 1.5;
  expected[62] = 2.5;
  EXPECT_EQ(engine->Filter3x3(mel, engine_kernel), expected);
}

TEST(Filter3x3, FallsAndConstantsGiveZero) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  RingIBuffer<std::vector<double>> mel(3);
  mel.init(std::vector<double>(64, 5.0));
  EXPECT_EQ(engine->Filter3x3(mel, engine_kernel), std::vector<double>(64, 0.0));
  mel.push_back(std::vector<double>(64, 1.0));
  mel.push_back(std::vector<double>(64, 0.5));
  EXPECT_EQ(engine->Filter3x3(mel, engine_kernel), std::vector<double>(64, 0.0));
  // A NaN sum is stored as it is, not cut to zero.
  std::vector<double> nan_frame(64, 0.0);
  nan_frame[20] = std::nan("");
  mel.push_back(nan_frame);
  EXPECT_TRUE(std::isnan(engine->Filter3x3(mel, engine_kernel)[20]));
}

TEST(PatternMatching, ZeroHistoryGivesZeros) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  auto ring = onsetRing();
  EXPECT_EQ(engine->STPattanMatching(ring), std::vector<double>(49, 0.0));
}

TEST(PatternMatching, PeriodicHistoryScoresOneAtItsPeriod) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  beat_tracker_test::Noise noise(5);
  const int period = 60;
  std::vector<std::vector<double>> cycle(period, std::vector<double>(64, 0.0));
  for (auto& frame : cycle)
    for (int b = 1; b < 63; ++b) frame[b] = std::fabs(noise.next());
  auto ring = onsetRing();
  for (int f = 0; f < 400; ++f) ring.push_back(cycle[f % period]);
  const std::vector<double> R = engine->STPattanMatching(ring);
  ASSERT_EQ(R.size(), 49u);
  EXPECT_NEAR(R[period - 51], 1.0, 1e-12);
  for (std::size_t i = 0; i < R.size(); ++i) {
    EXPECT_GE(R[i], 0.0);
    if (static_cast<int>(i) != period - 51) {
      EXPECT_LT(R[i], 0.99) << "lag " << 51 + i;
    }
  }
}

TEST(PatternMatching, ForeignRingMatchesPlainLoopsBitForBit) {
  TempDir dir;
  const struct {
    double start, end;
  } ranges[] = {{51, 100}, {26, 87}, {5, 7}, {22, 87}, {40, 300}};
  for (const auto& r : ranges) {
    auto engine = beat_tracker_test::quietEngine(makeInit(16000, 512, 160, r.start, r.end, false, dir.prefix()));
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      auto ring = onsetRing();
      fillRandom(ring, 700, seed);
      EXPECT_TRUE(sameBits(engine->STPattanMatching(ring),
                           beat_tracker_test::referencePatternMatching(ring, static_cast<int>(r.start),
                                                                       static_cast<int>(r.end))))
          << "range " << r.start << ".." << r.end << " seed " << seed;
    }
  }
}

TEST(PatternMatching, EveryInstructionSetGivesTheSameBits) {
  using namespace beat_tracker::detail;
  beat_tracker::OnsetHistory history;
  history.reset(1, 63, 2 * 100 - 1);
  auto ring = onsetRing();
  fillRandom(ring, 300, 11);
  history.assign(ring);
  const SimdLevel levels[] = {SimdLevel::kBaseline, SimdLevel::kAvx2, SimdLevel::kAvx512};
  for (int lags : {1, 2, 7, 8, 9, 49, 61, 97}) {
    std::vector<double> cross0, past0;
    double now0 = 0;
    bool first = true;
    for (SimdLevel level : levels) {
      if (!simdLevelSupported(level)) continue;
      std::vector<double> cross(lags + kLagPadding), past(lags + kLagPadding);
      double now = -1;
      matchPatterns(level, history.values(), history.squares(), history.stride(), history.bands(),
                    100, 100 - lags, lags, cross.data(), past.data(), &now);
      cross.resize(lags);
      past.resize(lags);
      if (first) {
        cross0 = cross;
        past0 = past;
        now0 = now;
        first = false;
        // Baseline against sums written out in the stated order.
        for (int i = 0; i < lags; ++i) {
          double c = 0, p = 0, n = 0;
          for (int f = 1; f < 63; ++f)
            for (int t = 0; t < 100; ++t) {
              const double x = ring[t][f], y = ring[t + 100 - lags + i][f];
              c += y * x;
              n += x * x;
              p += y * y;
            }
          EXPECT_EQ(std::memcmp(&c, &cross[i], sizeof c), 0) << "lag index " << i;
          EXPECT_EQ(std::memcmp(&p, &past[i], sizeof p), 0) << "lag index " << i;
          EXPECT_EQ(std::memcmp(&n, &now, sizeof n), 0);
        }
      } else {
        EXPECT_TRUE(sameBits(cross, cross0)) << "level " << static_cast<int>(level) << " lags " << lags;
        EXPECT_TRUE(sameBits(past, past0)) << "level " << static_cast<int>(level) << " lags " << lags;
        EXPECT_EQ(std::memcmp(&now, &now0, sizeof now), 0);
      }
    }
  }
}

// The engine keeps its own per-band copy of the onset history; over a long
// realistic run (with many shifts of that copy) its scores must equal the
// plain loops over the onset vectors it hands out.
TEST(PatternMatching, EngineHistoryMatchesPlainLoopsOnMusic) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const std::size_t frames = 900;
  const auto signal = beat_tracker_test::drumAndBass(16000, 100, frames * 160 + 512);
  const auto spectra = beat_tracker_test::magnitudeSpectra(signal, 512, 160, frames);
  auto ring = onsetRing();
  StreamCapture out;
  for (std::size_t f = 0; f < frames; ++f) {
    const auto result = engine->analyze(spectra[f]);
    ring.push_back(result.onset_vector);
    if (f % 7 == 0 || f > 800) {
      ASSERT_TRUE(sameBits(result.stpm_vector, beat_tracker_test::referencePatternMatching(ring, 51, 100)))
          << "frame " << f;
    }
  }
}
