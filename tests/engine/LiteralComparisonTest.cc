// The engine against a plain, unoptimised tracker on the same input: every
// frame result, every diagnostic line and every console line must agree
// bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "support/EngineTestSupport.h"
#include "support/LiteralEngine.h"
#include "support/Spectra.h"

using beat_tracker::BeatTracker;
using beat_tracker::BeatTrackerData;
using beat_tracker_test::LiteralEngine;
using beat_tracker_test::LiteralResult;
using beat_tracker_test::sameBits;
using beat_tracker_test::StreamCapture;
using beat_tracker_test::TempDir;

namespace {

struct Scenario {
  double fs;
  unsigned long window, shift;
  double start, end;
  std::vector<std::vector<double>> spectra;
};

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool sameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void compare(const Scenario& s) {
  TempDir dir;
  std::string engine_console;
  LiteralEngine literal(s.fs, s.window, s.shift, s.start, s.end);
  {
    StreamCapture out;
    BeatTracker engine(beat_tracker_test::makeInit(s.fs, s.window, s.shift, s.start, s.end, true,
                                                   dir.prefix()));
    for (std::size_t i = 0; i < s.spectra.size(); ++i) {
      const BeatTrackerData got = engine.analyze(s.spectra[i]);
      const LiteralResult want = literal.analyze(s.spectra[i]);
      ASSERT_TRUE(sameBits(got.onset_vector, want.onset)) << "onset, frame " << i;
      ASSERT_TRUE(sameBits(got.stpm_vector, want.stpm)) << "stpm, frame " << i;
      ASSERT_TRUE(sameBits(got.chroma_vector, want.chroma)) << "chroma, frame " << i;
      ASSERT_TRUE(sameNumber(got.getInterval(), want.interval)) << "interval, frame " << i;
      ASSERT_TRUE(sameNumber(got.getCurrentTime(), want.current_time)) << "frame " << i;
      ASSERT_TRUE(sameNumber(got.getBeatTime(), want.beat_time)) << "beat, frame " << i;
      ASSERT_TRUE(sameNumber(got.getRecentBeatTime(), want.recent_beat_time)) << "recent beat, frame " << i;
      ASSERT_TRUE(sameNumber(got.getMusicReliability(), want.music_reliability)) << "reliability, frame " << i;
    }
    engine_console = out.text();
  }
  EXPECT_EQ(engine_console, literal.console.str());
  const struct {
    const char* name;
    const std::ostringstream& text;
  } files[] = {{"bt_chroma_vector.dat", literal.chroma_log},
               {"bt_melfilterbank.dat", literal.mel_log},
               {"bt_inc_mel.dat", literal.inc_mel_log},
               {"bt_interval_long_value.dat", literal.long_value_log},
               {"bt_flat_num.dat", literal.flat_num_log},
               {"bt_inc_spec.dat", literal.inc_spec_log},
               {"bt_beats_reliability_mask.dat", literal.mask_log},
               {"bt_beats_reliability.dat", literal.reliability_log},
               {"bt_interval_long_contrast.dat", literal.contrast_log},
               {"bt_music_reli.dat", literal.music_reli_log}};
  for (const auto& f : files) EXPECT_TRUE(fileText(dir.path() / f.name) == f.text.str()) << f.name;
}

std::vector<std::vector<double>> spectraOf(const std::vector<double>& signal, std::size_t window,
                                           std::size_t shift, std::size_t frames) {
  return beat_tracker_test::magnitudeSpectra(signal, window, shift, frames);
}

}  // namespace

TEST(LiteralComparison, DrumAndBassAt16kHz) {
  const std::size_t frames = 1500;
  compare({16000, 512, 160, 51, 100,
           spectraOf(beat_tracker_test::drumAndBass(16000, 100, frames * 160 + 512), 512, 160, frames)});
}

TEST(LiteralComparison, DrumAndBassAt44kHzWindow4096) {
  const std::size_t frames = 700;
  compare({44100, 4096, 512, 26, 87,
           spectraOf(beat_tracker_test::drumAndBass(44100, 128, frames * 512 + 4096), 4096, 512, frames)});
}

TEST(LiteralComparison, PhaseJumpingClicks) {
  const std::size_t frames = 2600;
  std::vector<double> signal = beat_tracker_test::clickTrack(16000, frames * 160 + 512, 2000, 9600);
  const auto shifted = beat_tracker_test::clickTrack(16000, frames * 160 + 512, 2000 + 4800, 9600);
  std::copy(shifted.begin() + 1400 * 160, shifted.end(), signal.begin() + 1400 * 160);
  compare({16000, 512, 160, 51, 100, spectraOf(signal, 512, 160, frames)});
}

// Small frames so that a long run stays cheap: music, then silence long
// enough for the last beat to leave the history and the walk to trace.
TEST(LiteralComparison, SilenceLongerThanTheHistory) {
  const std::size_t music = 700, frames = 4200;
  std::vector<double> signal = beat_tracker_test::drumAndBass(2000, 150, frames * 20 + 64);
  std::fill(signal.begin() + music * 20, signal.end(), 0.0);
  compare({2000, 64, 20, 26, 45, spectraOf(signal, 64, 20, frames)});
}

// A range where continuity can carry the interval beyond the candidates.
TEST(LiteralComparison, WideStartNarrowRange) {
  const std::size_t frames = 1500;
  compare({16000, 512, 160, 80, 110,
           spectraOf(beat_tracker_test::drumAndBass(16000, 70, frames * 160 + 512), 512, 160, frames)});
}
