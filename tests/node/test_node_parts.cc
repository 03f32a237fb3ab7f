// The node's small parts: beat scheduling, start-up settings, window
// helpers and the shared beat record.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "Beat.h"
#include "BeatSchedule.h"
#include "RealTimeBeatTrackerInit.h"
#include "WindowHelpers.h"

TEST(BeatSchedule, NothingIsScheduledWithoutAnInterval) {
  std::list<int> scheduled;
  int last = 0;
  EXPECT_FALSE(scheduleBeat(scheduled, last, 0, 0.0));
  EXPECT_TRUE(scheduled.empty());
  EXPECT_EQ(last, 0);
}

TEST(BeatSchedule, ABeatTooCloseToTheLastScheduledIsSkipped) {
  std::list<int> scheduled;
  int last = 1050;
  EXPECT_TRUE(scheduleBeat(scheduled, last, 50, 1000.0));  // 1100 > 40 + 1050
  EXPECT_EQ(scheduled, (std::list<int>{1100}));
  EXPECT_EQ(last, 1100);
  EXPECT_FALSE(scheduleBeat(scheduled, last, 50, 1010.0));  // 1110 <= 40 + 1100
  EXPECT_EQ(scheduled, (std::list<int>{1100}));
  // Exactly 0.8 intervals later is still too close; beyond it is not.
  last = 1060;
  scheduled.clear();
  EXPECT_FALSE(scheduleBeat(scheduled, last, 50, 1000.0 - 0.0));  // 1100 vs 40 + 1060
  EXPECT_TRUE(scheduleBeat(scheduled, last, 50, 1001.0));         // 1101 > 1100
}

TEST(BeatSchedule, PredictionIsTruncatedAfterAddingTheRecentBeat) {
  std::list<int> scheduled;
  int last = 0;
  EXPECT_TRUE(scheduleBeat(scheduled, last, 30, 99.9));
  EXPECT_EQ(last, 159);
}

TEST(BeatSchedule, OneDueBeatIsAnnouncedPerFrame) {
  std::list<int> scheduled{100, 105, 200};
  EXPECT_FALSE(takeDueBeat(scheduled, 99));
  EXPECT_TRUE(takeDueBeat(scheduled, 110));   // 100 is due
  EXPECT_TRUE(takeDueBeat(scheduled, 111));   // 105 was due too: next frame
  EXPECT_FALSE(takeDueBeat(scheduled, 112));  // 200 is not
  EXPECT_TRUE(takeDueBeat(scheduled, 200));   // due on its own frame
  EXPECT_TRUE(scheduled.empty());
  EXPECT_FALSE(takeDueBeat(scheduled, 1000));
}

TEST(BeatSchedule, ReliabilityReachesTheThresholdWidenedToDouble) {
  EXPECT_TRUE(isReliable(0.5, 0.5f));    // equality counts
  EXPECT_TRUE(isReliable(0.505, 0.5f));
  EXPECT_FALSE(isReliable(0.495, 0.5f));
  // 0.8 as a float is 0.800000011920929: a reliability of 0.8 falls short.
  EXPECT_FALSE(isReliable(0.8, 0.8f));
  EXPECT_TRUE(isReliable(static_cast<double>(0.8f), 0.8f));
  EXPECT_FALSE(isReliable(std::nan(""), 0.0f));
}

TEST(BeatSchedule, FramesToSeconds) {
  EXPECT_EQ(framesToSeconds(50, 441, 44100.0), 0.5);
  EXPECT_EQ(60 / framesToSeconds(50, 441, 44100.0), 120.0);
  EXPECT_EQ(framesToSeconds(0, 441, 44100.0), 0.0);
}

TEST(StartUpSettings, TempoRangeBecomesPeriodsInFrames) {
  RealTimeBeatTrackerInit init;
  init.set_sampling_freq(44100);
  init.SetSTFTParameter(512, 441);
  init.SetSTPMParameter(60, 120, 60);
  EXPECT_EQ(init.cc_length, 100);
  EXPECT_EQ(init.cc_shift_start, 51);  // ceil(6000 / 119)
  EXPECT_EQ(init.cc_shift_end, 100);

  init.SetSTFTParameter(4096, 512);
  init.SetSTPMParameter(60, 200, 60);
  EXPECT_EQ(init.cc_length, 87);
  EXPECT_EQ(init.cc_shift_start, 26);  // ceil(25.97)
  EXPECT_EQ(init.cc_shift_end, 87);
}

TEST(StartUpSettings, DebugParameterFillsBypassFirst) {
  RealTimeBeatTrackerInit init;
  init.SetDebugParameter(true, false, "run/");
  EXPECT_TRUE(init.magnitude_bypass);
  EXPECT_FALSE(init.debug_flag);
  EXPECT_EQ(init.log_prefix, "run/");
}

TEST(WindowHelpers, UpdateSignalSlidesAndMixesHalfOfEachChannel) {
  std::vector<double> window{1, 2, 3, 4};
  TESK::Matrix<float> frame(2, 4);
  for (int j = 0; j < 4; ++j) {
    frame(0, j) = 10.0f * j;
    frame(1, j) = 1.0f;
  }
  update_signal(window, frame, 2);
  EXPECT_EQ(window, (std::vector<double>{3, 4, 0.5 * 20 + 0.5, 0.5 * 30 + 0.5}));
  update_signal(window, frame, 4);
  EXPECT_EQ(window, (std::vector<double>{0.5, 5.5, 10.5, 15.5}));
  update_signal(window, frame, 0);
  EXPECT_EQ(window, (std::vector<double>{0.5, 5.5, 10.5, 15.5}));
}

TEST(WindowHelpers, UpdateSignalReadsColumnsUpToTheWindowSize) {
  std::vector<double> window(3, 0.0);
  TESK::Matrix<float> frame(1, 5);
  for (int j = 0; j < 5; ++j) frame(0, j) = static_cast<float>(j);
  update_signal(window, frame, 1);
  EXPECT_EQ(window, (std::vector<double>{0, 0, 1.0}));  // column 2, not 4
}

TEST(WindowHelpers, UpdateFftSignalTakesTheFirstRow) {
  std::vector<FftComplex> window(3, FftComplex(0, 0));
  TESK::Matrix<std::complex<float> > frame(2, 3);
  for (int j = 0; j < 3; ++j) {
    frame(0, j) = {float(j), float(-j)};
    frame(1, j) = {100.0f, 100.0f};
  }
  update_fftsignal(window, frame, 3);
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(window[j].re, j);
    EXPECT_EQ(window[j].im, -j);
  }
  TESK::Matrix<std::complex<float> > two(1, 2);
  two(0, 0) = {7, 0};
  two(0, 1) = {8, 0};
  update_fftsignal(window, two, 1);  // reads column 2 of a 3-bin window
  EXPECT_EQ(window[0].re, 1);
  EXPECT_EQ(window[1].re, 2);
  EXPECT_EQ(window[2].re, 0);
}

TEST(WindowHelpers, PrintVectorStopsAtTheEnd) {
  std::vector<double> v{1.5, 2, 0.1234567};
  testing::internal::CaptureStdout();
  PrintVector(v, 5);
  PrintVector(v, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1.5, 2, 0.123457, \n1.5, \n");
}

TEST(SharedBeat, ConstructorStoresValuesAndSizesFlags) {
  Beat empty(0, 1.0, 2.0, 3.0, 16000);
  EXPECT_TRUE(empty.slot_flags.empty());
  Beat beat(2, 1.0, 2.0, 3.0, 16000);
  EXPECT_EQ(beat.slot_flags, (std::vector<bool>{false, false}));
  EXPECT_EQ(beat.beat_time_sec, 1.0);
  EXPECT_EQ(beat.beat_interval_sec, 2.0);
  EXPECT_EQ(beat.beat_reliability, 3.0);
  EXPECT_EQ(beat.sampling_rate, 16000);
}

// A reader thread waits for each update and must see the three values of
// one and the same set_beat call.
TEST(SharedBeat, WaitingReaderWakesForEveryUpdate) {
  Beat beat(2, 0.0, 0.0, 0.0, 44100);
  const int updates = 200;
  std::atomic<int> seen{0};
  std::atomic<bool> consistent{true};
  std::thread reader([&] {
    std::unique_lock<std::mutex> lock(beat.mutex);
    double last = 0.0;
    while (seen < updates) {
      beat.beat_signal.wait(lock, [&] { return beat.beat_time_sec != last; });
      last = beat.beat_time_sec;
      if (beat.beat_interval_sec != 2 * last || beat.beat_reliability != 3 * last)
        consistent = false;
      ++seen;
    }
  });
  for (int i = 1; i <= updates; ++i) {
    beat.set_beat(i, 2.0 * i, 3.0 * i);
    // The next update waits until this one has been read.
    while (seen < i) std::this_thread::yield();
  }
  reader.join();
  EXPECT_EQ(seen, updates);
  EXPECT_TRUE(consistent);
}
