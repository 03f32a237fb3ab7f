// MIDI events of one JACK period, kept in time order in a fixed array: the
// process callback may not allocate.
#pragma once

#include <array>
#include <cstdint>

namespace tesk_live {

struct MidiEvent {
  uint32_t offset = 0;  // frame within the period
  uint8_t size = 0;
  uint8_t bytes[3] = {0, 0, 0};
};

inline constexpr uint8_t kMidiSongPosition = 0xF2;  // then 14 bits, low 7 first
inline constexpr uint8_t kMidiClockTick = 0xF8;
inline constexpr uint8_t kMidiStart = 0xFA;
inline constexpr uint8_t kMidiStop = 0xFC;

class MidiEventList {
 public:
  static constexpr int kCapacity = 256;

  // Inserted after the events at the same offset; false (and not kept)
  // when the list is full.
  bool add(uint32_t offset, uint8_t b0, int size = 1, uint8_t b1 = 0, uint8_t b2 = 0) {
    if (count_ == kCapacity) return false;
    int at = count_;
    while (at > 0 && events_[at - 1].offset > offset) {
      events_[at] = events_[at - 1];
      --at;
    }
    events_[at] = MidiEvent{offset, uint8_t(size), {b0, b1, b2}};
    ++count_;
    return true;
  }
  void clear() { count_ = 0; }
  int size() const { return count_; }
  const MidiEvent& operator[](int i) const { return events_[i]; }

 private:
  std::array<MidiEvent, kCapacity> events_{};
  int count_ = 0;
};

}  // namespace tesk_live
