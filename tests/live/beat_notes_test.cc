// Beat notes on their own: note-on at the beat's offset in its period, a
// passed beat at offset 0 of the next, note-off a fixed length later; a
// downbeat's own note where one is set.
#include "beat_notes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using tesk_live::BeatNotes;
using tesk_live::MidiEventList;
using tesk_live::NoteSettings;

namespace {

struct Event {
  int period;
  uint32_t offset;
  uint8_t status, note, velocity;
  bool operator==(const Event& o) const {
    return period == o.period && offset == o.offset && status == o.status && note == o.note &&
           velocity == o.velocity;
  }
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << "{period " << e.period << ", offset " << e.offset << ", " << std::hex
            << int(e.status) << std::dec << " " << int(e.note) << " " << int(e.velocity) << "}";
}

}  // namespace

TEST(BeatNotes, NotesAtTheirOffsetsLateOnesAtZero) {
  struct Beat {
    int64_t frame;
    float confidence;
    int beat_in_bar = 0;
  };
  struct Case {
    const char* name;
    NoteSettings settings;
    std::vector<Beat> beats;  // added before the first period
    int64_t start;            // of the first of three periods of 256 frames
    std::vector<Event> expected;
  };
  const NoteSettings drums{37, 10, 100, 100};
  const NoteSettings by_confidence{60, 1, 0, 300};
  const NoteSettings with_downbeat{37, 10, 100, 100, 36};
  for (const Case& c : {
           Case{"in the period, off in the next", drums, {{1000, 0.9f}}, 768,
                {{0, 232, 0x99, 37, 100}, {1, 76, 0x89, 37, 0}}},
           Case{"ahead by two periods", drums, {{1300, 0.9f}}, 768,
                {{2, 20, 0x99, 37, 100}, {2, 120, 0x89, 37, 0}}},
           Case{"already passed: offset 0", drums, {{500, 0.9f}}, 768,
                {{0, 0, 0x99, 37, 100}, {0, 100, 0x89, 37, 0}}},
           Case{"struck again before the note ended", drums, {{800, 0.9f}, {850, 0.2f, 1}}, 768,
                {{0, 32, 0x99, 37, 100}, {0, 82, 0x89, 37, 0}, {0, 82, 0x99, 37, 100},
                 {0, 182, 0x89, 37, 0}}},
           Case{"a downbeat's own note, ended by the next beat", with_downbeat,
                {{800, 0.9f, 1}, {850, 0.2f, 2}}, 768,
                {{0, 32, 0x99, 36, 100}, {0, 82, 0x89, 36, 0}, {0, 82, 0x99, 37, 100},
                 {0, 182, 0x89, 37, 0}}},
           Case{"velocity from confidence", by_confidence, {{0, 0.5f}, {600, 1.0f}}, 0,
                {{0, 0, 0x90, 60, 64}, {1, 44, 0x80, 60, 0}, {2, 88, 0x90, 60, 127}}},
       }) {
    SCOPED_TRACE(c.name);
    BeatNotes notes(c.settings);
    for (const Beat& b : c.beats) notes.add(b.frame, b.confidence, b.beat_in_bar);
    std::vector<Event> got;
    for (int p = 0; p < 3; ++p) {
      MidiEventList events;
      notes.render(c.start + 256 * p, 256, events);
      for (int i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].size, 3);
        got.push_back({p, events[i].offset, events[i].bytes[0], events[i].bytes[1],
                       events[i].bytes[2]});
      }
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(BeatNotes, SilenceEndsTheSoundingNoteOnly) {
  BeatNotes notes(NoteSettings{37, 10, 100, 1000});
  MidiEventList events;
  notes.silence(events);
  EXPECT_EQ(events.size(), 0);
  notes.add(10, 1.0f);
  notes.add(5000, 1.0f);
  notes.render(0, 256, events);
  ASSERT_EQ(events.size(), 1);
  events.clear();
  notes.silence(events);
  ASSERT_EQ(events.size(), 1);
  EXPECT_EQ(events[0].bytes[0], 0x89);
  EXPECT_EQ(events[0].offset, 0u);
  events.clear();
  notes.render(4864, 256, events);
  EXPECT_EQ(events.size(), 0) << "the pending beat was forgotten";
}
