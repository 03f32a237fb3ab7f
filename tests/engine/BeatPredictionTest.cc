// Beat reliability, beat search and the walk to the latest predicted beat.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "engine/TrackingSteps.h"

using beat_tracker::TrackingState;
namespace detail = beat_tracker::detail;

TEST(BeatPattern, PastBeatCount) {
  EXPECT_EQ(detail::pastBeatCount(60, 8, 30), 1);
  EXPECT_EQ(detail::pastBeatCount(100, 8, 30), 3);
  EXPECT_EQ(detail::pastBeatCount(93, 8, 30), 2);
  EXPECT_EQ(detail::pastBeatCount(5000, 8, 30), 3);
  EXPECT_EQ(detail::pastBeatCount(5000, 8, 0), 0);
}

TEST(BeatReliability, RunningUpdate) {
  EXPECT_DOUBLE_EQ(detail::accumulateReliability(0.5, 1, 0.3), 0.9);
  EXPECT_EQ(detail::accumulateReliability(0.0, 0, 0.25), 0.25);
}

TEST(BeatSearch, RunsOnlyWhenDue) {
  EXPECT_FALSE(detail::beatSearchDue(174, 87, 87, 3, 0, 30));  // history not long enough
  EXPECT_TRUE(detail::beatSearchDue(175, 87, 87, 3, 0, 30));
  EXPECT_FALSE(detail::beatSearchDue(500, 87, 87, 2, 0, 30));  // fewer than three past beats
  // One and a half periods must have passed since the last beat.
  EXPECT_FALSE(detail::beatSearchDue(500, 87, 87, 3, 368, 30));
  EXPECT_TRUE(detail::beatSearchDue(500, 87, 87, 3, 367, 30));
}

namespace {

// Frame 1000, cc_shift_end 87, interval 30: W[k] is frame 913 - k; the
// expected beat is 898, the window 893 to 903.
std::vector<double> windowWithPeakAt(int k, double value = 1.0) {
  std::vector<double> W(30, 0.0);
  W[k] = value;
  return W;
}

TrackingState stableState() {
  TrackingState s;
  s.interval_stable = true;
  s.previous_beat_interval = 30;
  return s;
}

}  // namespace

TEST(BeatSearch, OutlierIsReplacedOnceThenAcceptedAsNewPhase) {
  TrackingState state = stableState();
  std::ostringstream out;
  int beat = detail::searchBeat(windowWithPeakAt(2), 1000, 87, 30, 0, state, out);
  EXPECT_EQ(out.str(), "beat not detect out of range : remain\n");
  EXPECT_EQ(beat, 898);
  EXPECT_EQ(state.beat_miss_count, 1u);
  EXPECT_EQ(state.beat_change_count, 1);

  out.str("");
  beat = detail::searchBeat(windowWithPeakAt(2), 1000, 87, 30, beat, state, out);
  EXPECT_EQ(out.str(), "beat not detect out of range : change : 2, 1\n");
  EXPECT_EQ(beat, 911);
  EXPECT_EQ(state.beat_miss_count, 0u);
  EXPECT_EQ(state.beat_change_count, 0);
  EXPECT_TRUE(state.interval_stable);
}

TEST(BeatSearch, BeatInsideTheWindowClearsTheMissCount) {
  TrackingState state = stableState();
  state.beat_miss_count = 1;
  std::ostringstream out;
  EXPECT_EQ(detail::searchBeat(windowWithPeakAt(15), 1000, 87, 30, 0, state, out), 898);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(state.beat_miss_count, 0u);
  EXPECT_EQ(state.beat_change_count, 1);
}

TEST(BeatSearch, ChangedIntervalTakesTheFirstCandidateWithoutWindowCheck) {
  TrackingState state = stableState();
  state.previous_beat_interval = 24;  // moved by 6 frames
  std::vector<double> W = windowWithPeakAt(2, 1.0);
  W[15] = 0.9;
  std::ostringstream out;
  EXPECT_EQ(detail::searchBeat(W, 1000, 87, 30, 0, state, out), 911);
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(state.interval_stable);
  EXPECT_EQ(state.previous_beat_interval, 30.0);
}

TEST(BeatSearch, FirstSearchOfAnEngineIsUnstable) {
  TrackingState state;  // fresh: interval_stable false
  std::ostringstream out;
  EXPECT_EQ(detail::searchBeat(windowWithPeakAt(2), 1000, 87, 30, 0, state, out), 911);
  EXPECT_EQ(out.str(), "");
}

TEST(BeatSearch, SecondCandidateCountsBelowRatioFifty) {
  // Main peak at frame 911 (outside the window), second at 898 (expected).
  std::vector<double> W(30, 0.0);
  W[2] = 49.9;
  W[15] = 1.0;
  TrackingState counted = stableState();
  std::ostringstream out;
  EXPECT_EQ(detail::searchBeat(W, 1000, 87, 30, 0, counted, out), 898);
  EXPECT_EQ(out.str(), "");

  W[2] = 50.0;
  TrackingState ignored = stableState();
  EXPECT_EQ(detail::searchBeat(W, 1000, 87, 30, 0, ignored, out), 898);
  EXPECT_EQ(out.str(), "beat not detect out of range : remain\n");  // pos1 was taken
}

TEST(BeatSearch, CloseCandidatesAreDroppedWithAMessage) {
  TrackingState state = stableState();
  std::vector<double> W(30, 0.0);
  W[15] = 1.0;
  W[25] = 0.8;  // 10 frames away: not cleared around the first, but closer than 30 / 3
  std::ostringstream out;
  detail::searchBeat(W, 1000, 87, 31, 0, state, out);
  EXPECT_NE(out.str().find("cal max in time sec\n"), std::string::npos);
}

TEST(BeatSearch, ClearingUsesTheWholeThirdButClosenessTheExactThird) {
  // L = 50: third = 16, so k1 + 16 survives the clearing around k1 but is
  // still closer than 50 / 3 and is dropped with a message.
  TrackingState state = stableState();
  state.previous_beat_interval = 50;
  std::vector<double> W(50, 0.0);
  W[10] = 1.0;
  W[26] = 0.9;
  W[27] = 0.8;  // 17 away: a valid second candidate
  std::ostringstream out;
  detail::searchBeat(W, 1000, 87, 50, 0, state, out);
  EXPECT_EQ(out.str().rfind("cal max in time sec\n", 0), 0u);
  EXPECT_EQ(out.str().find("cal max in time sec", 1), std::string::npos);
}

TEST(BeatSearch, NoReliabilityLeavesEverythingAlone) {
  TrackingState state = stableState();
  state.beat_change_count = 3;
  std::ostringstream out;
  EXPECT_EQ(detail::searchBeat(std::vector<double>(30, 0.0), 1000, 87, 30, 123, state, out), 123);
  EXPECT_EQ(state.beat_change_count, 3);
  EXPECT_EQ(out.str(), "");
}

namespace {

RingIBuffer<double> constantIntervals(double value) {
  RingIBuffer<double> ring(3000);
  ring.init(value);
  return ring;
}

}  // namespace

TEST(BeatWalk, StopsAtTheLastBeatBeforeTheCurrentFrame) {
  auto intervals = constantIntervals(30);
  std::ostringstream out;
  EXPECT_EQ(detail::walkForward(100, 200, 87, 3000, intervals, out), 190);
  EXPECT_EQ(detail::walkForward(0, 200, 87, 3000, intervals, out), 0);
  EXPECT_EQ(detail::walkForward(180, 200, 87, 3000, intervals, out), 180);
  EXPECT_EQ(out.str(), "");
}

TEST(BeatWalk, ShorterIntervalAtTheNextBeatWins) {
  // Frames 0 to 200; the interval estimated at frame 130 is 25.
  RingIBuffer<double> intervals(3000);
  intervals.init(0.0);
  for (int f = 0; f <= 200; ++f) intervals.push_back(f == 130 ? 25.0 : 30.0);
  std::ostringstream out;
  // 100 -> 125 (shorter interval at 130) -> 155 -> 185.
  EXPECT_EQ(detail::walkForward(100, 200, 87, 3000, intervals, out), 185);
}

TEST(BeatWalk, LongWalksTraceFromThe51stPass) {
  auto intervals = constantIntervals(10);
  std::ostringstream out;
  // 60 steps of 10 frames from frame 100 to 700, frame 705.
  EXPECT_EQ(detail::walkForward(100, 705, 87, 3000, intervals, out), 700);
  const std::string text = out.str();
  int passes = 0;
  for (std::size_t at = text.find("\ntemp_beat_time : "); at != std::string::npos;
       at = text.find("\ntemp_beat_time : ", at + 1))
    ++passes;
  EXPECT_EQ(text.rfind("temp_beat_time : 610\n", 0), 0u);
  EXPECT_EQ(passes + 1, 11);  // passes 51 to 61
  // Pass 60 steps from 690 to 700; pass 61 finds no earlier beat and stops.
  EXPECT_NE(text.find("in temp_beat_time : 700\nin t_current : 705\nin now_interval : 10\n"
                      "in next_beat_time : 690\ntemp_beat_time : 710\n"),
            std::string::npos);
  const std::string tail =
      "temp_beat_time : 710\nt_current : 705\nnow_interval : 10\nnext_beat_time : 700\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(BeatWalk, StartOlderThanTheHistoryBeginsAtItsOldestFrame) {
  auto intervals = constantIntervals(30);
  std::ostringstream out;
  // Oldest frame held: 3500 - 2999 = 501; 501 + 99 * 30 = 3471.
  EXPECT_EQ(detail::walkForward(100, 3500, 87, 3000, intervals, out), 3471);
}
