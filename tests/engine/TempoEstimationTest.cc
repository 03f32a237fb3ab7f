// Interval choice from the pattern-matching vector.
#include <gtest/gtest.h>

#include <vector>

#include "engine/TrackingSteps.h"

using beat_tracker::TrackingState;
using beat_tracker::detail::chooseInterval;
using beat_tracker::detail::IntervalChoice;

namespace {

// 49 candidates (intervals 51 to 99) with small strict peaks at the given
// offsets on a zero floor.
std::vector<double> stpmWithPeaks(std::initializer_list<std::pair<int, double>> peaks) {
  std::vector<double> stpm(49, 0.0);
  for (const auto& p : peaks) stpm[p.first] = p.second;
  return stpm;
}

}  // namespace

TEST(TempoEstimation, SilenceGivesTheSilentInterval) {
  TrackingState state;
  state.previous_interval_offset = 12;
  state.previous_peak_value = 0.4;
  const IntervalChoice c = chooseInterval(std::vector<double>(49, 0.0), 51, state);
  EXPECT_TRUE(c.silent);
  EXPECT_EQ(c.chosen, -5.0);
  EXPECT_EQ(c.peak_value, 0.0);
  EXPECT_EQ(state.previous_interval_offset, -5.0);
  EXPECT_EQ(state.previous_peak_value, 0.0);  // no decay when there is no peak
}

TEST(TempoEstimation, PlateauHasNoPeakAndKeepsThePreviousInterval) {
  TrackingState state;
  state.previous_interval_offset = 9;
  state.previous_peak_value = 0.3;
  const IntervalChoice c = chooseInterval(std::vector<double>(49, 0.2), 51, state);
  EXPECT_FALSE(c.silent);
  EXPECT_EQ(c.chosen, 9.0);
  EXPECT_EQ(state.previous_peak_value, 0.0);
}

TEST(TempoEstimation, FirstOfEqualMaximaIsTheMainPeak) {
  TrackingState state;
  const IntervalChoice c = chooseInterval(stpmWithPeaks({{10, 0.5}, {14, 0.5}}), 51, state);
  EXPECT_EQ(c.peak, 10);
  EXPECT_EQ(c.chosen, 10.0);
}

TEST(TempoEstimation, SinglePeakOnTheFirstFrame) {
  TrackingState state;
  const IntervalChoice c = chooseInterval(stpmWithPeaks({{30, 0.6}}), 51, state);
  EXPECT_EQ(c.chosen, 30.0);
  EXPECT_EQ(51 + c.chosen, 81.0);
  EXPECT_EQ(c.second, -51);
  EXPECT_EQ(c.second_value, 0.0);
  EXPECT_EQ(state.previous_interval_offset, 30.0);
  EXPECT_EQ(state.previous_peak_value, 0.6);
}

TEST(TempoEstimation, DecayedPreviousPeakHoldsTheInterval) {
  TrackingState state;
  state.previous_interval_offset = 10;
  state.previous_peak_value = 1.0;
  IntervalChoice c = chooseInterval(stpmWithPeaks({{12, 0.8}}), 51, state);
  EXPECT_EQ(c.chosen, 10.0);
  EXPECT_EQ(c.peak_value, 0.85);
  EXPECT_EQ(state.previous_peak_value, 0.85);
  // 0.85 * 0.85 = 0.7225 no longer beats 0.8.
  c = chooseInterval(stpmWithPeaks({{12, 0.8}}), 51, state);
  EXPECT_EQ(c.chosen, 12.0);
  EXPECT_EQ(c.peak_value, 0.8);
}

TEST(TempoEstimation, SecondPeakNeedsSeventyPercent) {
  TrackingState low;
  IntervalChoice c = chooseInterval(stpmWithPeaks({{0, 1.0}, {47, 0.69}}), 51, low);
  EXPECT_EQ(c.second, -51);
  EXPECT_EQ(c.chosen, 0.0);

  // At 70 % the peak 47 (interval 98, about twice 51) is examined; its
  // doubled distance lands next to it, so it is chosen. Continuity from
  // offset 0 finds g1 near 0 but g2 near 47 and leaves the choice alone.
  TrackingState high;
  c = chooseInterval(stpmWithPeaks({{0, 1.0}, {47, 0.7}}), 51, high);
  EXPECT_EQ(c.second, 47);
  EXPECT_EQ(c.second_value, 0.7);
  EXPECT_EQ(c.chosen, 47.0);
  EXPECT_EQ(c.peak_value, 1.0);
}

TEST(TempoEstimation, PeaksCloserThanTwentyFramesAreSkipped) {
  TrackingState near_state;
  IntervalChoice c = chooseInterval(stpmWithPeaks({{0, 1.0}, {19, 0.9}}), 51, near_state);
  EXPECT_EQ(c.second, -51);
  EXPECT_EQ(c.second_value, 0.0);

  TrackingState far_state;
  c = chooseInterval(stpmWithPeaks({{0, 1.0}, {20, 0.9}}), 51, far_state);
  EXPECT_EQ(c.second, 20);
  EXPECT_EQ(c.second_value, 0.9);
  EXPECT_EQ(c.chosen, 0.0);

  // A near peak is skipped but a farther one behind it is examined.
  TrackingState both;
  c = chooseInterval(stpmWithPeaks({{0, 1.0}, {10, 0.95}, {30, 0.8}}), 51, both);
  EXPECT_EQ(c.second, 30);
}

TEST(TempoEstimation, ContinuityMovesToTheDoubledDistance) {
  TrackingState state;
  state.previous_interval_offset = 0;
  state.previous_peak_value = 0.5;
  const IntervalChoice c = chooseInterval(stpmWithPeaks({{24, 0.9}}), 51, state);
  // Distance 24 doubles to 48, offset -3, within 5 of the previous offset.
  EXPECT_EQ(c.chosen, -3.0);
  EXPECT_EQ(c.peak_value, 0.425);
  EXPECT_EQ(state.previous_interval_offset, -3.0);
}

TEST(TempoEstimation, ContinuityMovesToTheTripledDistance) {
  TrackingState state;
  state.previous_interval_offset = 17;
  state.previous_peak_value = 0.2;
  const IntervalChoice c = chooseInterval(stpmWithPeaks({{40, 0.9}}), 51, state);
  // Distance 23: doubled gives offset -5 (no match), tripled 69 gives 18.
  EXPECT_EQ(c.chosen, 18.0);
  EXPECT_EQ(c.peak_value, 0.2 * 0.85);
}

TEST(TempoEstimation, ContinuityCanLeaveTheCandidateRange) {
  // Intervals 80 to 109 (offsets 0 to 29): from offset 29, a peak at offset 1
  // (distance 28, doubled twice to 112) moves the choice to offset 32.
  TrackingState state;
  state.previous_interval_offset = 29;
  std::vector<double> stpm(30, 0.0);
  stpm[1] = 0.9;
  EXPECT_EQ(chooseInterval(stpm, 80, state).chosen, 32.0);
}

TEST(TempoEstimation, LargestReachableInterval) {
  using beat_tracker::detail::largestReachableInterval;
  EXPECT_EQ(largestReachableInterval(51, 100), 99);
  EXPECT_EQ(largestReachableInterval(26, 87), 86);
  EXPECT_EQ(largestReachableInterval(80, 110), 148);
  EXPECT_EQ(largestReachableInterval(400, 1000), 999);
  EXPECT_EQ(largestReachableInterval(600, 1000), 1188);
}
