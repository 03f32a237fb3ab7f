#include "midi_clock.h"

#include <algorithm>
#include <cmath>

namespace tesk_live {

MidiClock::MidiClock(double sample_rate, double max_deviation)
    : rate_(sample_rate), max_deviation_(max_deviation) {}

double MidiClock::steadyTempo() const {
  if (recent_count_ < kSteadyBeats) return 0.0;
  std::array<double, kSteadyBeats> sorted = recent_;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  const bool held = sorted.front() >= median * (1.0 - kSteadyShare) &&
                    sorted.back() <= median * (1.0 + kSteadyShare);
  return held ? median : 0.0;
}

void MidiClock::beat(int64_t frame, double bpm, int beat_in_bar) {
  if (!(bpm > 0.0)) return;
  recent_[size_t(recent_count_++ % kSteadyBeats)] = bpm;
  if (recent_count_ == 2 * kSteadyBeats) recent_count_ = kSteadyBeats;
  const double steady = steadyTempo();
  // Small changes are followed beat by beat; a big one once it holds.
  if (running_ && std::fabs(bpm - bpm_) <= kSteadyShare * bpm_) bpm_ = bpm;
  else if (steady > 0.0) bpm_ = steady;
  else if (!running_) return;
  nominal_ = rate_ * 60.0 / bpm_ / kTicksPerBeat;
  if (!running_) {
    running_ = true;
    start_pending_ = true;
    next_tick_ = 0;
    next_frame_ = double(frame);
    interval_ = nominal_;
    target_tick_ = kTicksPerBeat;
    target_frame_ = double(frame) + kTicksPerBeat * nominal_;
    // Start on a downbeat is song position 0 already.
    song_start_tick_ = beat_in_bar == 1 ? 0 : -1;
    pointer_tick_ = -1;
    return;
  }
  // The beat falls on the beat tick nearest to it at the clock's pace; the
  // clock aims at that tick, or a later beat tick extrapolated from it when
  // too few ticks are left to correct smoothly.
  const double position = double(next_tick_) + (double(frame) - next_frame_) / nominal_;
  int64_t tick = kTicksPerBeat * std::llround(position / kTicksPerBeat);
  if (beat_in_bar == 1) barStartsAt(tick);
  double due = double(frame);
  while (tick - next_tick_ < kMinCorrectionTicks) {
    tick += kTicksPerBeat;
    due += kTicksPerBeat * nominal_;
  }
  target_tick_ = tick;
  target_frame_ = due;
  // The next tick moves with the new interval; before the first, the
  // clock still starts on its first beat.
  if (next_tick_ > 0) {
    interval_ = currentInterval();
    next_frame_ = last_frame_ + interval_;
  }
}

void MidiClock::barStartsAt(int64_t tick) {
  if (tick < 0) return;  // before Start
  const int64_t first = std::max(tick, next_tick_);
  const int64_t at = (first + kTicksPerSixteenth - 1) / kTicksPerSixteenth * kTicksPerSixteenth;
  // The song starts at the first downbeat, and again at one the pointer's
  // 14 bits cannot reach.
  if (song_start_tick_ < 0 || (at - song_start_tick_) / kTicksPerSixteenth > kMaxSongPosition)
    song_start_tick_ = tick;
  pointer_tick_ = at;
}

double MidiClock::currentInterval() const {
  const int64_t last_tick = next_tick_ - 1;
  const double wanted = (target_frame_ - last_frame_) / double(target_tick_ - last_tick);
  return std::clamp(wanted, nominal_ * (1.0 - max_deviation_), nominal_ * (1.0 + max_deviation_));
}

void MidiClock::render(int64_t start, uint32_t frames, MidiEventList& out) {
  if (!running_) return;
  const int64_t end = start + int64_t(frames);
  while (true) {
    const int64_t due = std::llround(next_frame_);
    if (due >= end) break;
    const uint32_t offset = uint32_t(std::max<int64_t>(0, due - start));
    if (start_pending_) {
      out.add(offset, kMidiStart);
      start_pending_ = false;
    }
    if (next_tick_ == pointer_tick_) {
      const int64_t position = (next_tick_ - song_start_tick_) / kTicksPerSixteenth;
      out.add(offset, kMidiSongPosition, 3, uint8_t(position & 0x7F), uint8_t(position >> 7));
      pointer_tick_ = -1;
    }
    out.add(offset, kMidiClockTick);
    // A late tick moves the clock, so the ones after it keep their spacing.
    last_frame_ = due < start ? double(start) : next_frame_;
    ++next_tick_;
    // Past the target, keep steering to the beats that follow it.
    while (target_tick_ - next_tick_ < 0) {
      target_tick_ += kTicksPerBeat;
      target_frame_ += kTicksPerBeat * nominal_;
    }
    interval_ = currentInterval();
    next_frame_ = last_frame_ + interval_;
  }
}

void MidiClock::stop(MidiEventList& out) {
  if (!running_) return;
  out.add(0, kMidiStop);
  running_ = false;
  start_pending_ = false;
  song_start_tick_ = -1;
  pointer_tick_ = -1;
}

}  // namespace tesk_live
