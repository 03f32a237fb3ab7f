// Whole-engine runs on synthetic music.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "support/EngineTestSupport.h"
#include "support/Spectra.h"

using beat_tracker::BeatTracker;
using beat_tracker::BeatTrackerData;
using beat_tracker_test::sameBits;
using beat_tracker_test::StreamCapture;
using beat_tracker_test::TempDir;

namespace {

constexpr std::size_t kWindow = 512;
constexpr std::size_t kShift = 160;
constexpr std::size_t kBeat = 60;  // frames per beat at 100 BPM, 100 frames per second
constexpr std::size_t kFirstClick = 2000;  // sample of the first click

// Engine frame index at which a click sits in the middle of the window:
// call i analyses samples [i * shift, i * shift + window) as frame i + 1.
double clickFrame(std::size_t k) {
  const double sample = static_cast<double>(kFirstClick + k * kBeat * kShift);
  return (sample - kWindow / 2.0) / kShift + 1.0;
}

// Distance of a frame index from the nearest click.
double distanceToClick(double frame) {
  const double phase = std::fmod(frame - clickFrame(0), static_cast<double>(kBeat));
  const double wrapped = phase < 0 ? phase + kBeat : phase;
  return std::min(wrapped, kBeat - wrapped);
}

std::vector<std::vector<double>> clickSpectra(std::size_t frames) {
  const auto signal = beat_tracker_test::clickTrack(16000.0, frames * kShift + kWindow, kFirstClick,
                                                    kBeat * kShift);
  return beat_tracker_test::magnitudeSpectra(signal, kWindow, kShift, frames);
}

bool sameResult(const BeatTrackerData& a, const BeatTrackerData& b) {
  return a.getInterval() == b.getInterval() && a.getCurrentTime() == b.getCurrentTime() &&
         a.getBeatTime() == b.getBeatTime() && a.getRecentBeatTime() == b.getRecentBeatTime() &&
         a.getMusicReliability() == b.getMusicReliability() &&
         sameBits(a.onset_vector, b.onset_vector) && sameBits(a.stpm_vector, b.stpm_vector) &&
         sameBits(a.chroma_vector, b.chroma_vector);
}

}  // namespace

TEST(EngineRun, ClickTrackAt100BpmSettlesOnSixtyFramesAndFindsTheClicks) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const std::size_t frames = 3000;
  const auto spectra = clickSpectra(frames);
  StreamCapture out;
  int beats_checked = 0;
  int predictions_checked = 0;
  double last_beat = -1;
  for (std::size_t i = 0; i < frames; ++i) {
    const BeatTrackerData r = engine->analyze(spectra[i]);
    ASSERT_EQ(r.getCurrentTime(), static_cast<double>(i + 1));
    ASSERT_EQ(r.stpm_vector.size(), 49u);
    ASSERT_EQ(r.onset_vector.size(), 64u);
    ASSERT_EQ(r.chroma_vector.size(), 12u);
    if (i < 1000) continue;  // settling time
    ASSERT_EQ(r.getInterval(), 60.0) << "frame " << i + 1;
    EXPECT_GT(r.getMusicReliability(), 0.9);
    if (r.getBeatTime() != last_beat) {
      last_beat = r.getBeatTime();
      EXPECT_LE(distanceToClick(r.getBeatTime()), 2.0) << "found beat " << r.getBeatTime();
      ++beats_checked;
    }
    EXPECT_LE(distanceToClick(r.getRecentBeatTime()), 2.0) << "predicted beat " << r.getRecentBeatTime();
    EXPECT_LT(r.getRecentBeatTime(), r.getCurrentTime());
    EXPECT_GE(r.getRecentBeatTime(), r.getCurrentTime() - 60);
    ++predictions_checked;
  }
  EXPECT_GE(beats_checked, 25);
  EXPECT_EQ(predictions_checked, 2000);
}

TEST(EngineRun, PhaseJumpIsFirstHeldThenAccepted) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  // Clicks every 60 frames; from frame 1500 on they move by half a beat.
  const std::size_t frames = 3000;
  std::vector<double> signal = beat_tracker_test::clickTrack(16000.0, frames * kShift + kWindow,
                                                             kFirstClick, kBeat * kShift);
  const std::size_t jump = 1500 * kShift;
  const std::vector<double> shifted = beat_tracker_test::clickTrack(
      16000.0, frames * kShift + kWindow, kFirstClick + kBeat * kShift / 2, kBeat * kShift);
  std::copy(shifted.begin() + jump, shifted.end(), signal.begin() + jump);
  const auto spectra = beat_tracker_test::magnitudeSpectra(signal, kWindow, kShift, frames);
  std::string before_jump;
  StreamCapture out;
  BeatTrackerData r;
  for (std::size_t i = 0; i < frames; ++i) {
    r = engine->analyze(spectra[i]);
    if (i == 1499) before_jump = out.text();
  }
  const std::string text = out.text().substr(before_jump.size());
  const std::size_t remain = text.find("beat not detect out of range : remain\n");
  ASSERT_NE(remain, std::string::npos) << text;
  const std::size_t change = text.find("beat not detect out of range : change : ", remain);
  ASSERT_NE(change, std::string::npos) << text;
  // The engine follows the new phase.
  EXPECT_EQ(r.getInterval(), 60.0);
  EXPECT_LE(distanceToClick(r.getBeatTime() - 30), 2.0) << r.getBeatTime();
}

TEST(EngineRun, SilenceAfterMusicGoesQuietWithoutFaults) {
  TempDir dir;
  auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix()));
  const auto spectra = clickSpectra(1500);
  StreamCapture out;
  double beat_before = 0;
  for (const auto& s : spectra) beat_before = engine->analyze(s).getBeatTime();
  ASSERT_NE(beat_before, 0.0);
  const std::vector<double> silence(256, 0.0);
  BeatTrackerData r;
  double beat_in_silence = 0;
  for (int i = 0; i < 4000; ++i) {
    r = engine->analyze(silence);
    if (i == 1000) beat_in_silence = r.getBeatTime();
    for (double v : r.chroma_vector) ASSERT_EQ(v, 0.0);
    for (double v : r.stpm_vector) ASSERT_TRUE(std::isfinite(v));
    ASSERT_TRUE(std::isfinite(r.getMusicReliability()));
    ASSERT_LT(r.getRecentBeatTime(), r.getCurrentTime());
  }
  // Once the whole matched history is silent: the silent interval 51 - 5.
  EXPECT_EQ(r.getInterval(), 46.0);
  EXPECT_EQ(r.getMusicReliability(), 0.0);
  for (double v : r.stpm_vector) EXPECT_EQ(v, 0.0);
  for (double v : r.onset_vector) EXPECT_EQ(v, 0.0);
  // Once the reliabilities of the music have left the search window no beat
  // is found any more; the prediction walks on from the last one, which by
  // now is older than the history.
  EXPECT_GE(beat_in_silence, beat_before);
  EXPECT_EQ(r.getBeatTime(), beat_in_silence);
  EXPECT_GT(r.getCurrentTime() - r.getBeatTime(), 3000.0);
}

TEST(EngineRun, TwoInterleavedEnginesMatchOneEngineAlone) {
  TempDir dir_a, dir_b, dir_c;
  const std::size_t frames = 1200;
  const auto clicks = clickSpectra(frames);
  const auto music = beat_tracker_test::magnitudeSpectra(
      beat_tracker_test::drumAndBass(16000, 117, frames * kShift + kWindow), kWindow, kShift, frames);

  StreamCapture out;
  std::vector<BeatTrackerData> alone;
  {
    BeatTracker a(beat_tracker_test::settingA(dir_a.prefix()));
    for (const auto& s : clicks) alone.push_back(a.analyze(s));
  }
  BeatTracker a(beat_tracker_test::settingA(dir_b.prefix()));
  BeatTracker b(beat_tracker_test::makeInit(16000, 512, 160, 40, 90, false, dir_c.prefix()));
  for (std::size_t i = 0; i < frames; ++i) {
    const BeatTrackerData other = b.analyze(music[i]);
    const BeatTrackerData mine = a.analyze(clicks[i]);
    ASSERT_TRUE(sameResult(mine, alone[i])) << "frame " << i;
  }
  // The second engine really did track something else.
  EXPECT_NE(alone.back().getBeatTime(), 0.0);
}

namespace {

const char* const kWritten[10] = {
    "bt_chroma_vector.dat",    "bt_melfilterbank.dat",       "bt_inc_mel.dat",
    "bt_interval_long_value.dat", "bt_flat_num.dat",         "bt_inc_spec.dat",
    "bt_beats_reliability_mask.dat", "bt_beats_reliability.dat", "bt_interval_long_contrast.dat",
    "bt_music_reli.dat"};
const char* const kEmpty[4] = {"bt_spec.dat", "bt_interval_value.dat", "bt_interval_contrast.dat",
                               "bt_beats_times.dat"};

std::size_t countFields(const std::string& line) {
  std::size_t fields = 0;
  bool in_field = false;
  for (char c : line) {
    if (c != ' ' && !in_field) ++fields;
    in_field = c != ' ';
  }
  return fields;
}

}  // namespace

TEST(Diagnostics, DebugRunWritesOneLinePerFrameInEveryWrittenFile) {
  TempDir dir;
  const std::size_t frames = 300;
  const auto spectra = clickSpectra(frames);
  {
    auto engine = beat_tracker_test::quietEngine(
        beat_tracker_test::makeInit(16000, 512, 160, 22, 87, true, dir.prefix()));
    StreamCapture out;
    for (const auto& s : spectra) engine->analyze(s);
  }
  const std::size_t expected_fields[10] = {12, 64, 62, 65, 1, 87, 87, 1, 6, 3};
  const bool vector_line[10] = {true, true, true, true, false, true, true, false, false, false};
  for (int f = 0; f < 10; ++f) {
    const auto lines = beat_tracker_test::readLines(dir.path() / kWritten[f]);
    ASSERT_EQ(lines.size(), frames) << kWritten[f];
    for (const std::string& line : lines) {
      ASSERT_EQ(countFields(line), expected_fields[f]) << kWritten[f] << ": " << line;
      ASSERT_EQ(!line.empty() && line.back() == ' ', vector_line[f]) << kWritten[f] << ": " << line;
    }
  }
  for (const char* name : kEmpty) EXPECT_EQ(std::filesystem::file_size(dir.path() / name), 0u) << name;

  // Record lines: time in seconds first, intervals as whole numbers.
  const auto music = beat_tracker_test::readLines(dir.path() / "bt_music_reli.dat");
  // Frame 1 is silent (the first click comes later): interval 22 - 5.
  EXPECT_EQ(music[0], "0.01 0 17");
  const auto contrast = beat_tracker_test::readLines(dir.path() / "bt_interval_long_contrast.dat");
  EXPECT_EQ(contrast[0], "0.01 17 22 0 0 0");
}

TEST(Diagnostics, DebugOffLeavesAllFourteenFilesEmpty) {
  TempDir dir;
  const auto spectra = clickSpectra(200);
  {
    auto engine = beat_tracker_test::quietEngine(beat_tracker_test::settingA(dir.prefix(), false));
    StreamCapture out;
    for (const auto& s : spectra) engine->analyze(s);
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(std::filesystem::file_size(entry.path()), 0u) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 14);
}
