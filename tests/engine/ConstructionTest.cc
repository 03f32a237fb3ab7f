#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "support/EngineTestSupport.h"

using beat_tracker::BeatTracker;
using beat_tracker::BeatTrackerInspector;
using beat_tracker_test::makeInit;
using beat_tracker_test::StreamCapture;
using beat_tracker_test::TempDir;

TEST(Construction, ConsoleLinesAndDerivedSizes) {
  TempDir dir;
  StreamCapture out;
  BeatTracker engine(makeInit(44100.0, 4096, 512, 22.0, 87.9, false, dir.prefix()));
  EXPECT_EQ(out.text(), "DEBUG872287\nbeat_tracking initialize ended\n");
  EXPECT_EQ(BeatTrackerInspector::numBins(engine), 2048u);
  EXPECT_EQ(BeatTrackerInspector::framesPerWindow(engine), 8);
  EXPECT_EQ(BeatTrackerInspector::frameCount(engine), 3);
  EXPECT_EQ(BeatTrackerInspector::ccShiftStart(engine), 22);
  EXPECT_EQ(BeatTrackerInspector::ccShiftEnd(engine), 87);
  EXPECT_EQ(BeatTrackerInspector::patternLength(engine), 87);
}

TEST(Construction, WindowNotMultipleOfShift) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(makeInit(8000.0, 1000, 300, 5.0, 7.0, false, dir.prefix()));
  EXPECT_EQ(BeatTrackerInspector::framesPerWindow(*engine), 3);
  EXPECT_EQ(BeatTrackerInspector::frameCount(*engine), 0);
}

TEST(Construction, MelEdgesAt16kHzWindow512) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const std::vector<double>& e = BeatTrackerInspector::melEdges(*engine);
  ASSERT_EQ(e.size(), 66u);
  EXPECT_EQ(e[0], 0.0);
  EXPECT_NEAR(e[1], 0.8996, 5e-5);
  EXPECT_NEAR(e[2], 1.8353, 5e-5);
  EXPECT_NEAR(e[63], 245.2510, 5e-5);
  EXPECT_NEAR(e[64], 256.0, 1e-12);
  EXPECT_EQ(e[65], 256.0);
  for (int i = 1; i <= 64; ++i) EXPECT_LT(e[i - 1], e[i]) << "edge " << i;
  // The expression itself: 10^(i*step/2595) with step = top/64.
  const double bin_width = 16000.0 / 512.0;
  const double top = 2595.0 * std::log10(256.0 * bin_width / 700.0 + 1.0);
  EXPECT_NEAR(top, 2840.023, 1e-3);
  const double step = top / 64;
  EXPECT_EQ(e[10], ((std::pow(10.0, (10 * step) / 2595.0) - 1.0) * 700.0) / bin_width);
}

TEST(Construction, PitchTablesAtWorkedBins) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(makeInit(44100.0, 32768, 512, 22.0, 87.0, false, dir.prefix()));
  const auto& octave = BeatTrackerInspector::binOctave(*engine);
  const auto& pitch = BeatTrackerInspector::binPitchClass(*engine);
  const auto& cents = BeatTrackerInspector::binCents(*engine);
  ASSERT_EQ(octave.size(), 16384u);
  ASSERT_EQ(pitch.size(), 16384u);
  ASSERT_EQ(cents.size(), 16384u);
  EXPECT_TRUE(std::isinf(cents[0]) && cents[0] < 0);
  // Bins 0 to 11 have negative note numbers: far outside octaves 1 to 9.
  for (int i = 0; i < 12; ++i) EXPECT_GT(octave[i], 9.0) << "bin " << i;
  // Bins 12 to 23: note numbers 1 to 11, octave 0.
  for (int i = 12; i < 24; ++i) EXPECT_EQ(octave[i], 0.0) << "bin " << i;
  EXPECT_EQ(pitch[12], 1.0);
  EXPECT_EQ(octave[24], 1.0);
  EXPECT_EQ(pitch[24], 0.0);
  EXPECT_EQ(octave[25], 1.0);
  EXPECT_EQ(pitch[25], 0.0);
  EXPECT_EQ(pitch[26], 1.0);
  for (int i = 48; i <= 50; ++i) {
    EXPECT_EQ(octave[i], 2.0);
    EXPECT_EQ(pitch[i], 0.0);
  }
  EXPECT_EQ(octave[255], 4.0);
  EXPECT_EQ(pitch[255], 5.0);
  EXPECT_EQ(octave[12186], 9.0);
  EXPECT_EQ(pitch[12186], 11.0);
  EXPECT_EQ(octave[12187], 10.0);
}

TEST(Construction, CreatesAllFourteenFilesEvenWithDebugOff) {
  TempDir dir;
  beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix(), false));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("bt_", 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(entry.path()), 0u);
    ++files;
  }
  EXPECT_EQ(files, 14);
}

TEST(Construction, MissingLogDirectoryStillTracks) {
  TempDir dir;
  StreamCapture err(std::cerr);
  auto engine = beat_tracker_test::quietEngine(
      beat_tracker_test::settingA((dir.path() / "missing" / "").string(), true));
  EXPECT_NE(err.text().find("cannot open diagnostic file"), std::string::npos);
  StreamCapture out;
  const auto result = engine->analyze(std::vector<double>(256, 1.0));
  EXPECT_EQ(result.getCurrentTime(), 1.0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
}

namespace {

// Expects construction to throw std::invalid_argument naming `needle`, and
// to print nothing and create no file before that.
void expectRejected(const beat_tracker::BeatTrackerInit& init, const std::string& needle) {
  StreamCapture out;
  try {
    BeatTracker engine(init);
    ADD_FAILURE() << "accepted settings that should be rejected (" << needle << ")";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
  }
  EXPECT_EQ(out.text(), "");
}

}  // namespace

TEST(Construction, RejectsSettingsOutsideTheLimits) {
  TempDir dir;
  const std::string p = dir.prefix();
  expectRejected(makeInit(16000, 512, 0, 51, 100, true, p), "shift_size");
  expectRejected(makeInit(16000, 1, 160, 51, 100, true, p), "window_size 1");
  expectRejected(makeInit(16000, 512, 160, 4.99, 100, true, p), "cc_shift_start 4.99");
  expectRejected(makeInit(16000, 512, 160, std::nan(""), 100, true, p), "cc_shift_start nan");
  expectRejected(makeInit(16000, 512, 160, 51, 52.9, true, p), "cc_shift_end 52.9");
  expectRejected(makeInit(16000, 512, 160, 51, std::nan(""), true, p), "cc_shift_end nan");
  expectRejected(makeInit(16000, 512, 160, 51, 1001, true, p), "cc_shift_end 1001");
  expectRejected(makeInit(16000, 512, 160, 51, 1e300, true, p), "cc_shift_end 1e+300");
  expectRejected(makeInit(16000, 512, 160, 1200, 1300, true, p), "cc_shift_start 1200");
  // Continuity can carry the interval to 1188 frames here.
  expectRejected(makeInit(16000, 512, 160, 600, 1000, true, p), "cc_shift_start 600 with cc_shift_end 1000");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Construction, AcceptsSettingsAtTheLimits) {
  TempDir dir;
  const std::string p = dir.prefix();
  EXPECT_NO_THROW(beat_tracker_test::quietEngine(makeInit(16000, 2, 1, 5.0, 7.0, false, p)));
  EXPECT_NO_THROW(beat_tracker_test::quietEngine(makeInit(16000, 512, 160, 5.9, 7.0, false, p)));
  EXPECT_NO_THROW(beat_tracker_test::quietEngine(makeInit(16000, 512, 160, 51, 1000.9, false, p)));
  EXPECT_NO_THROW(beat_tracker_test::quietEngine(makeInit(16000, 512, 160, 400, 1000, false, p)));
}

TEST(Construction, AnalyzeRejectsSpectrumOfWrongLength) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  try {
    engine->analyze(std::vector<double>(255, 0.0));
    ADD_FAILURE() << "accepted a short spectrum";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("255"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("256"), std::string::npos) << e.what();
  }
  EXPECT_THROW(engine->analyze(std::vector<double>(512, 0.0)), std::invalid_argument);
  // The engine is unchanged and goes on with valid frames.
  StreamCapture out;
  EXPECT_EQ(engine->analyze(std::vector<double>(256, 0.0)).getCurrentTime(), 1.0);
}
