// Mel filter bank, spectral increase and chroma vector.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/EngineTestSupport.h"
#include "support/Spectra.h"

using beat_tracker::BeatTracker;
using beat_tracker::BeatTrackerInspector;
using beat_tracker_test::makeInit;
using beat_tracker_test::sameBits;
using beat_tracker_test::TempDir;

namespace {

RingIBuffer<std::vector<double>> ringWith(const std::vector<double>& newest,
                                          const std::vector<double>& previous = {}) {
  RingIBuffer<std::vector<double>> ring(3);
  ring.init(std::vector<double>(newest.size(), 0.0));
  if (!previous.empty()) ring.push_back(previous);
  ring.push_back(newest);
  return ring;
}

}  // namespace

TEST(MelFilter, MatchesFullScanBitForBit) {
  TempDir dir;
  const struct {
    double fs;
    unsigned long window;
  } settings[] = {{16000, 512}, {44100, 4096}, {44100, 512}, {8000, 64}, {22050, 1000}};
  beat_tracker_test::Noise noise(99);
  for (const auto& s : settings) {
    auto engine = beat_tracker_test::quietEngine(makeInit(s.fs, s.window, 128, 22, 87, false, dir.prefix()));
    const auto& edges = BeatTrackerInspector::melEdges(*engine);
    for (int trial = 0; trial < 5; ++trial) {
      std::vector<double> S(s.window / 2);
      for (double& v : S) v = std::fabs(noise.next()) * 10.0;
      if (trial == 1) S[0] = std::numeric_limits<double>::infinity();
      if (trial == 2) S.back() = std::numeric_limits<double>::quiet_NaN();
      auto ring = ringWith(S);
      EXPECT_TRUE(sameBits(engine->MelFilter(ring), beat_tracker_test::referenceMelFilter(edges, S)))
          << s.fs << " Hz, window " << s.window << ", trial " << trial;
    }
  }
}

TEST(MelFilter, LowestBandCanStayEmptyAndBinZeroAddsNothing) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(makeInit(44100, 512, 128, 22, 87, false, dir.prefix()));
  auto ring = ringWith(std::vector<double>(256, 1.0));
  const std::vector<double> M = engine->MelFilter(ring);
  ASSERT_EQ(M.size(), 64u);
  EXPECT_EQ(M[0], 0.0);
  EXPECT_GT(M[1], 0.0);

  std::vector<double> only_bin0(256, 0.0);
  only_bin0[0] = 5.0;
  auto ring0 = ringWith(only_bin0);
  for (double v : engine->MelFilter(ring0)) EXPECT_EQ(v, 0.0);

  // A zero weight still multiplies: an infinite bin 0 poisons band 0.
  only_bin0[0] = std::numeric_limits<double>::infinity();
  auto ring_inf = ringWith(only_bin0);
  EXPECT_TRUE(std::isnan(engine->MelFilter(ring_inf)[0]));
}

TEST(MelFilter, SingleBinSplitsBetweenNeighbouringTriangles) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const auto& e = BeatTrackerInspector::melEdges(*engine);
  std::vector<double> S(256, 0.0);
  S[1] = 1.0;
  auto ring = ringWith(S);
  const std::vector<double> M = engine->MelFilter(ring);
  // Bin 1 lies between edges 1 (0.8996) and 2 (1.8353): falling half of
  // band 0, rising half of band 1.
  EXPECT_NEAR(M[0], (1.8353 - 1.0) / (1.8353 - 0.8996), 1e-4);
  EXPECT_NEAR(M[1], (1.0 - 0.8996) / (1.8353 - 0.8996), 1e-4);
  EXPECT_EQ(M[0], ((e[2] - 1.0) * 1.0) / (e[2] - e[1]));
  for (int b = 2; b < 64; ++b) EXPECT_EQ(M[b], 0.0);
}

TEST(MelFilter, TopBandHasOnlyItsRisingHalf) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const auto& e = BeatTrackerInspector::melEdges(*engine);
  std::vector<double> S(256, 0.0);
  S[255] = 2.0;
  auto ring = ringWith(S);
  const std::vector<double> M = engine->MelFilter(ring);
  // Bin 255 lies between edges 63 and 64: rising half of band 63, falling
  // half of band 62. Band 63 has no falling half within the spectrum.
  EXPECT_EQ(M[63], ((255.0 - e[63]) * 2.0) / (e[64] - e[63]));
  EXPECT_EQ(M[62], ((e[64] - 255.0) * 2.0) / (e[64] - e[63]));
  for (int b = 0; b < 62; ++b) EXPECT_EQ(M[b], 0.0);
  // All-ones spectrum: band 63 sums only its rising weights.
  auto ones = ringWith(std::vector<double>(256, 1.0));
  double rising = 0.0;
  for (int j = 246; j <= 255; ++j) rising += ((j - e[63]) * 1.0) / (e[64] - e[63]);
  EXPECT_EQ(engine->MelFilter(ones)[63], rising);
  auto zeros = ringWith(std::vector<double>(256, 0.0));
  for (double v : engine->MelFilter(zeros)) EXPECT_EQ(v, 0.0);
}

TEST(MakeIncSpec, KeepsOnlyRises) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  auto ring = ringWith({1.0, 5.0, 2.0, 0.0, std::nan("")}, {2.0, 3.0, 2.0, -1.0, 1.0});
  const std::vector<double> inc = engine->MakeIncSpec(ring);
  EXPECT_EQ(inc, (std::vector<double>{0.0, 2.0, 0.0, 1.0, 0.0}));
}

TEST(Chroma, FoldsCountedBinsAndScalesToOne) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  std::vector<double> S(256, 0.0);
  S[24] = 1.0;
  auto ring = ringWith(S);
  std::vector<double> expected(12, 0.0);
  expected[0] = 1.0;
  EXPECT_EQ(engine->MakeChromaVec(ring), expected);

  // Bins 24 and 48 share pitch class 0; bin 26 is class 1.
  S[48] = 3.0;
  S[26] = 2.0;
  auto ring2 = ringWith(S);
  const std::vector<double> c = engine->MakeChromaVec(ring2);
  EXPECT_EQ(c[0], 1.0);
  EXPECT_EQ(c[1], 2.0 / 4.0);
}

TEST(Chroma, EqualLargestClassesBothBecomeOne) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  std::vector<double> S(256, 0.0);
  S[24] = 3.0;
  S[26] = 3.0;
  S[29] = 1.5;  // pitch class 3
  auto ring = ringWith(S);
  const std::vector<double> c = engine->MakeChromaVec(ring);
  EXPECT_EQ(c[0], 1.0);
  EXPECT_EQ(c[1], 1.0);
  EXPECT_EQ(c[3], 0.5);
}

TEST(Chroma, NoPositiveSumGivesTwelveZeros) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  auto silent = ringWith(std::vector<double>(256, 0.0));
  EXPECT_EQ(engine->MakeChromaVec(silent), std::vector<double>(12, 0.0));
  std::vector<double> low(256, 0.0);
  for (int i = 0; i < 24; ++i) low[i] = 7.0;  // outside every counted octave
  auto ring = ringWith(low);
  EXPECT_EQ(engine->MakeChromaVec(ring), std::vector<double>(12, 0.0));
}
