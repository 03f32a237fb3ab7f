// A MIDI note per beat: note-on at the beat's frame (offset 0 of the
// period when the beat has already passed), note-off a fixed time later.
// A downbeat may strike a note of its own.
#pragma once

#include <array>
#include <cstdint>

#include "midi_events.h"

namespace tesk_live {

struct NoteSettings {
  int note = 37;        // 0 to 127 (37: side stick in the General MIDI drum map)
  int channel = 10;     // 1 to 16 (10: drums)
  int velocity = 100;   // 1 to 127; 0 = from the beat's confidence
  int64_t length = 0;   // frames from note-on to note-off
  int downbeat_note = -1;  // 0 to 127, for beat 1 of a known bar; -1 = `note`
};

class BeatNotes {
 public:
  static constexpr int kCapacity = 64;

  explicit BeatNotes(const NoteSettings& settings) : settings_(settings) {}

  // A beat at JACK frame `frame` (beats come in time order), `beat_in_bar`
  // 1 for a downbeat (0 = no bar known). Beats beyond the capacity are
  // counted and left out.
  void add(int64_t frame, float confidence, int beat_in_bar = 0);

  // The notes' events in the period [start, start + frames).
  void render(int64_t start, uint32_t frames, MidiEventList& out);

  // Note-off at offset 0 for a note still sounding; pending beats forgotten.
  void silence(MidiEventList& out);

  int64_t dropped() const { return dropped_; }
  // The velocity of a beat of `confidence`.
  int velocityOf(float confidence) const;

 private:
  struct Pending {
    int64_t frame;
    uint8_t note;
    uint8_t velocity;
  };
  void noteOff(uint32_t offset, MidiEventList& out);

  NoteSettings settings_;
  std::array<Pending, kCapacity> pending_{};
  int head_ = 0;
  int count_ = 0;
  bool sounding_ = false;
  uint8_t sounding_note_ = 0;
  int64_t off_frame_ = 0;
  int64_t dropped_ = 0;
};

}  // namespace tesk_live
