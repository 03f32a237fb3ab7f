// MIDI beat clock that follows the tracked beats: 24 ticks per beat, Start
// before the first tick, Stop at the end. The tick interval follows the
// tracked tempo and is pulled towards each announced beat (the tick on the
// beat lands on it), but never strays more than a few % from the tempo's
// nominal interval, so a phase correction never makes a burst or a gap.
// A tracker's first beats, and those after a change, may come at a passing
// tempo: the clock starts, and takes a tempo more than kSteadyShare away
// from its own, only once the tempo has held for kSteadyBeats beats (two
// bars); until then it sends nothing, or keeps its last steady tempo.
// Where the tracker knows the bar, a Song Position Pointer goes out before
// the tick of each downbeat (or, announced late, the next tick that starts
// a sixteenth): the song starts at the first downbeat since Start, so a
// receiver that follows the pointer puts its bar lines on the music's.
#pragma once

#include <array>
#include <cstdint>

#include "midi_events.h"

namespace tesk_live {

class MidiClock {
 public:
  static constexpr int kTicksPerBeat = 24;
  // A Song Position Pointer counts MIDI beats (sixteenths) in 14 bits.
  static constexpr int kTicksPerSixteenth = 6;
  static constexpr int64_t kMaxSongPosition = (1 << 14) - 1;
  // The correction is spread over at least this many ticks.
  static constexpr int kMinCorrectionTicks = 12;
  // A tempo holds when the tempi of this many beats in a row lie within
  // this share of their median.
  static constexpr int kSteadyBeats = 8;
  static constexpr double kSteadyShare = 0.02;

  // `max_deviation`: the largest share by which a tick interval may differ
  // from the nominal one (0.03 = 3 %).
  explicit MidiClock(double sample_rate, double max_deviation = 0.03);

  // A beat at frame `frame` (JACK frames, may lie ahead) at `bpm`: the
  // first that makes the tempo steady starts the clock on it, later ones
  // correct tempo and phase. `beat_in_bar` 1: it is a downbeat (0: no bar
  // known).
  void beat(int64_t frame, double bpm, int beat_in_bar = 0);

  // The clock's events in the period [start, start + frames); a tick due
  // before `start` goes out at offset 0.
  void render(int64_t start, uint32_t frames, MidiEventList& out);

  // Stop at offset 0 (if the clock runs); a later beat starts it again.
  void stop(MidiEventList& out);

  bool running() const { return running_; }
  // Frames between the last tick and the next.
  double interval() const { return interval_; }
  double nominalInterval() const { return nominal_; }

 private:
  // From the last tick towards the target, within the clamp.
  double currentInterval() const;
  // The median tempo of the last kSteadyBeats beats if it held, else 0.
  double steadyTempo() const;
  // A bar starts on beat tick `tick`: the pointer is due before the first
  // tick from there on that is still to come and starts a sixteenth.
  void barStartsAt(int64_t tick);

  double rate_;
  double max_deviation_;
  bool running_ = false;
  bool start_pending_ = false;
  // The tempi of the latest beats, a ring (the process callback never
  // allocates).
  std::array<double, kSteadyBeats> recent_{};
  int recent_count_ = 0;
  double bpm_ = 0.0;        // the clock's tempo
  double nominal_ = 0.0;    // frames per tick at the clock's tempo
  double interval_ = 0.0;   // frames from the last tick to the next
  double last_frame_ = 0.0; // when the last tick went out
  double next_frame_ = 0.0; // when the next tick is due
  int64_t next_tick_ = 0;   // its number since Start; multiples of 24 fall on beats
  // The tick the clock steers to, and when it is due.
  int64_t target_tick_ = 0;
  double target_frame_ = 0.0;
  // The tick at song position 0 (the first downbeat since Start; -1 before
  // it), and the tick a Song Position Pointer is due before (-1: none).
  int64_t song_start_tick_ = -1;
  int64_t pointer_tick_ = -1;
};

}  // namespace tesk_live
