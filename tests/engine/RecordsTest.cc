#include <gtest/gtest.h>

#include <utility>

#include "engine/BeatTrackerData.h"
#include "engine/BeatTrackerInit.h"

using beat_tracker::BeatTrackerData;
using beat_tracker::BeatTrackerInit;

TEST(BeatTrackerInit, DefaultsAndSetters) {
  BeatTrackerInit init;
  EXPECT_EQ(init.getSamplingFreq(), 44100.0);
  EXPECT_EQ(init.getWindowSize(), 4096ul);
  EXPECT_EQ(init.getShiftSize(), 512ul);
  EXPECT_EQ(init.getCcShiftStart(), 0.51);
  EXPECT_EQ(init.getCcShiftEnd(), 1.01);
  EXPECT_TRUE(init.getDebugFlag());
  EXPECT_EQ(init.getLogPrefix(), "");

  init.setInputSignal(16000.0, 512, 160);
  init.setCCValues(3.5, 51.7, 100.2);
  init.setDebugFlag(false, "run1/");
  const BeatTrackerInit copy = init;
  EXPECT_EQ(copy.getSamplingFreq(), 16000.0);
  EXPECT_EQ(copy.getWindowSize(), 512ul);
  EXPECT_EQ(copy.getShiftSize(), 160ul);
  EXPECT_EQ(copy.getCcShiftStart(), 51.7);
  EXPECT_EQ(copy.getCcShiftEnd(), 100.2);
  EXPECT_FALSE(copy.getDebugFlag());
  EXPECT_EQ(copy.getLogPrefix(), "run1/");
}

TEST(BeatTrackerData, DefaultIsEmptyAndZero) {
  const BeatTrackerData data;
  EXPECT_TRUE(data.onset_vector.empty());
  EXPECT_TRUE(data.stpm_vector.empty());
  EXPECT_TRUE(data.chroma_vector.empty());
  EXPECT_EQ(data.getInterval(), 0.0);
  EXPECT_EQ(data.getCurrentTime(), 0.0);
  EXPECT_EQ(data.getBeatTime(), 0.0);
  EXPECT_EQ(data.getRecentBeatTime(), 0.0);
  EXPECT_EQ(data.getMusicReliability(), 0.0);
}

TEST(BeatTrackerData, RecentBeatTimeDoesNotChangeCurrentTime) {
  BeatTrackerData data;
  data.setBeatTimes(40, 100);
  data.setRecentBeatTime(90, 120);
  EXPECT_EQ(data.getBeatTime(), 40.0);
  EXPECT_EQ(data.getCurrentTime(), 100.0);
  EXPECT_EQ(data.getRecentBeatTime(), 90.0);
}

TEST(BeatTrackerData, SettersCopyVectorsAndMoveAssignmentKeepsEverything) {
  std::vector<double> onset{1, 2, 3}, stpm{0.5}, chroma(12, 0.25);
  BeatTrackerData data;
  data.setOnsetVector(onset);
  data.setSTPMVector(stpm);
  data.setChromaVector(chroma);
  data.setInterval(60);
  data.setMusicReliability(0.75);
  data.setBeatTimes(10, 20);
  data.setRecentBeatTime(15, 20);
  onset[0] = 42;  // the record holds its own copy
  EXPECT_EQ(data.onset_vector[0], 1.0);

  BeatTrackerData kept;
  kept = std::move(data);
  EXPECT_EQ(kept.onset_vector, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(kept.stpm_vector, stpm);
  EXPECT_EQ(kept.chroma_vector, chroma);
  EXPECT_EQ(kept.getInterval(), 60.0);
  EXPECT_EQ(kept.getMusicReliability(), 0.75);
  EXPECT_EQ(kept.getBeatTime(), 10.0);
  EXPECT_EQ(kept.getCurrentTime(), 20.0);
  EXPECT_EQ(kept.getRecentBeatTime(), 15.0);
}
