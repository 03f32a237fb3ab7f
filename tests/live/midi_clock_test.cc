// The MIDI beat clock on its own: beats announced 30 ms ahead, periods of
// 256 frames at 48 kHz, ticks collected with their frames.
#include "midi_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using tesk_live::MidiClock;
using tesk_live::MidiEventList;

namespace {

constexpr double kRate = 48000;
constexpr uint32_t kPeriod = 256;
constexpr int64_t kAhead = 1440;  // 30 ms

struct ClockRun {
  std::vector<int64_t> ticks;  // frames
  int starts = 0;
  int64_t first_start = -1;
};

// Beats at `beats` (frames, with the tempo each was tracked at), each told
// to the clock kAhead frames before it falls; runs until `end`.
ClockRun play(MidiClock& clock, const std::vector<std::pair<int64_t, double>>& beats, int64_t end) {
  ClockRun run;
  size_t next = 0;
  for (int64_t start = 0; start < end; start += kPeriod) {
    while (next < beats.size() && beats[next].first - kAhead < start + kPeriod) {
      clock.beat(beats[next].first, beats[next].second);
      ++next;
    }
    MidiEventList events;
    clock.render(start, kPeriod, events);
    for (int i = 0; i < events.size(); ++i) {
      const int64_t frame = start + events[i].offset;
      if (events[i].bytes[0] == tesk_live::kMidiClockTick) run.ticks.push_back(frame);
      EXPECT_NE(events[i].bytes[0], tesk_live::kMidiSongPosition) << "no bar, no song position";
      if (events[i].bytes[0] == tesk_live::kMidiStart) {
        ++run.starts;
        EXPECT_TRUE(run.ticks.empty()) << "Start comes before the first tick";
        run.first_start = frame;
      }
    }
  }
  return run;
}

}  // namespace

// Each case: beats at a steady tempo, the first `passing` of them told at
// another tempo (a tracker's first guesses), then from beat `change` on,
// at another tempo and shifted by `shift` frames. The clock starts once the
// tempo has held for two bars, at that tempo; whatever the correction,
// every tick interval stays within 3 % of the nominal one (no burst, no
// gap), and the clock ends locked: a tick on every beat, 24 ticks apart.
TEST(MidiClock, FollowsTempoAndPhaseWithinTheClamp) {
  struct Case {
    const char* name;
    double bpm, new_bpm;
    int change;
    int64_t shift;
    int passing = 0;
  };
  for (const Case& c : {Case{"steady 120", 120, 120, 1000, 0},
                        Case{"late by 6 ms", 120, 120, 12, 300},
                        Case{"early by 10 ms", 120, 120, 12, -480},
                        Case{"off by a quarter beat", 100, 100, 12, 7200},
                        Case{"120 to 126 BPM", 120, 126, 12, 0},
                        Case{"first told at 64 BPM", 120, 120, 1000, 0, 3}}) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<int64_t, double>> beats;
    double frame = 48000;
    for (int k = 0; k < 80; ++k) {
      const double bpm = k < c.change ? c.bpm : c.new_bpm;
      beats.push_back(
          {std::llround(frame) + (k < c.change ? 0 : c.shift), k < c.passing ? 64.0 : bpm});
      frame += kRate * 60.0 / bpm;
    }
    MidiClock clock(kRate);
    const ClockRun run = play(clock, beats, beats.back().first + 100);
    const int64_t steady = beats[size_t(c.passing + MidiClock::kSteadyBeats - 1)].first;
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(run.first_start, steady) << "started once the tempo held";
    ASSERT_GT(run.ticks.size(), 24u * 60);
    EXPECT_EQ(run.ticks.front(), steady);
    EXPECT_NEAR(run.ticks[24] - run.ticks[0], kRate * 60.0 / c.bpm, 0.02 * kRate * 60.0 / c.bpm)
        << "the first beat of the clock";

    const double slow = kRate * 60.0 / std::min(c.bpm, c.new_bpm) / 24;
    const double fast = kRate * 60.0 / std::max(c.bpm, c.new_bpm) / 24;
    for (size_t i = 1; i < run.ticks.size(); ++i) {
      const int64_t interval = run.ticks[i] - run.ticks[i - 1];
      ASSERT_GE(interval, std::floor(fast * 0.97) - 1) << "burst at tick " << i;
      ASSERT_LE(interval, std::ceil(slow * 1.03) + 1) << "gap at tick " << i;
    }
    // Locked over the last ten beats: the tick nearest each beat is on it.
    for (size_t k = beats.size() - 10; k + 1 < beats.size(); ++k) {
      int64_t nearest = run.ticks.front();
      size_t index = 0;
      for (size_t i = 0; i < run.ticks.size(); ++i)
        if (std::llabs(run.ticks[i] - beats[k].first) < std::llabs(nearest - beats[k].first)) {
          nearest = run.ticks[i];
          index = i;
        }
      EXPECT_LE(std::llabs(nearest - beats[k].first), 2) << "beat " << k;
      EXPECT_EQ(index % 24, 0u) << "the beat's tick is a multiple of 24, beat " << k;
    }
  }
}

TEST(MidiClock, StopsOnceAndStartsAgainOnTheNextBeat) {
  MidiClock clock(kRate);
  MidiEventList events;
  clock.stop(events);
  EXPECT_EQ(events.size(), 0) << "no Stop before a Start";
  for (int k = 1 - MidiClock::kSteadyBeats; k <= 0; ++k) clock.beat(1000 + k * 24000, 120);
  clock.render(0, kPeriod, events);
  clock.render(kPeriod, kPeriod * 8, events);
  ASSERT_GE(events.size(), 3);
  EXPECT_EQ(events[0].bytes[0], tesk_live::kMidiStart);
  EXPECT_EQ(events[0].offset, 0u + 1000 - 256) << "in the second render, at the beat";
  events.clear();
  clock.stop(events);
  ASSERT_EQ(events.size(), 1);
  EXPECT_EQ(events[0].bytes[0], tesk_live::kMidiStop);
  EXPECT_FALSE(clock.running());
  events.clear();
  clock.render(4000, kPeriod, events);
  EXPECT_EQ(events.size(), 0) << "no ticks once stopped";
}

// Beats at 120 BPM (1000 frames a tick) in bars of four, the clock started
// on the last beat of a bar. Before the tick of each downbeat comes a Song
// Position Pointer: sixteenths since the first downbeat. A downbeat told
// after its tick went out (20 ms late) moves the pointer to a later tick
// that starts a sixteenth, and its value with it.
TEST(MidiClock, SongPositionPointerPrecedesEachDownbeat) {
  const int64_t beat_frames = 24000;
  const int beats = 30;
  for (const int64_t told_ahead : {kAhead, int64_t(-960)}) {
    SCOPED_TRACE("told " + std::to_string(told_ahead) + " frames ahead");
    MidiClock clock(kRate);
    std::vector<std::pair<int64_t, int>> pointers;  // the tick each precedes, value
    int64_t ticks = 0;
    int next = 0;
    for (int64_t start = 0; start < beats * beat_frames + 48000; start += kPeriod) {
      while (next < beats && 48000 + next * beat_frames - told_ahead < start + kPeriod) {
        clock.beat(48000 + next * beat_frames, 120.0, next % 4 + 1);
        ++next;
      }
      MidiEventList events;
      clock.render(start, kPeriod, events);
      for (int i = 0; i < events.size(); ++i) {
        if (events[i].bytes[0] == tesk_live::kMidiClockTick) ++ticks;
        if (events[i].bytes[0] != tesk_live::kMidiSongPosition) continue;
        ASSERT_EQ(events[i].size, 3);
        ASSERT_LT(i + 1, events.size());
        EXPECT_EQ(events[i + 1].bytes[0], tesk_live::kMidiClockTick) << "right before a tick";
        EXPECT_EQ(events[i + 1].offset, events[i].offset);
        pointers.push_back({ticks, events[i].bytes[1] | events[i].bytes[2] << 7});
      }
    }
    // Started on beat 7 (tick 0): downbeats 8, 12, ... 28 fall on ticks 24, 120, ...
    ASSERT_EQ(pointers.size(), 6u);
    for (size_t n = 0; n < pointers.size(); ++n) {
      SCOPED_TRACE("downbeat " + std::to_string(n));
      const int64_t downbeat_tick = 24 + 96 * int64_t(n);
      const int64_t tick = pointers[n].first;
      EXPECT_EQ(tick, told_ahead > 0 ? downbeat_tick
                                     : downbeat_tick + MidiClock::kTicksPerSixteenth);
      EXPECT_EQ(pointers[n].second, (tick - 24) / MidiClock::kTicksPerSixteenth);
    }
  }
}
