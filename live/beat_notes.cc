#include "beat_notes.h"

#include <algorithm>
#include <cmath>

namespace tesk_live {

int BeatNotes::velocityOf(float confidence) const {
  if (settings_.velocity > 0) return settings_.velocity;
  const float c = std::clamp(std::isfinite(confidence) ? confidence : 0.0f, 0.0f, 1.0f);
  return 1 + int(std::lround(126.0f * c));
}

void BeatNotes::add(int64_t frame, float confidence, int beat_in_bar) {
  if (count_ == kCapacity) {
    ++dropped_;
    return;
  }
  const int note =
      beat_in_bar == 1 && settings_.downbeat_note >= 0 ? settings_.downbeat_note : settings_.note;
  pending_[(head_ + count_) % kCapacity] =
      Pending{frame, uint8_t(note), uint8_t(velocityOf(confidence))};
  ++count_;
}

void BeatNotes::noteOff(uint32_t offset, MidiEventList& out) {
  out.add(offset, uint8_t(0x80 | (settings_.channel - 1)), 3, sounding_note_, 0);
  sounding_ = false;
}

void BeatNotes::render(int64_t start, uint32_t frames, MidiEventList& out) {
  const int64_t end = start + int64_t(frames);
  auto offsetOf = [&](int64_t frame) { return uint32_t(std::max<int64_t>(0, frame - start)); };
  while (true) {
    const bool on_due = count_ > 0 && pending_[head_].frame < end;
    const bool off_due = sounding_ && off_frame_ < end;
    if (!on_due && !off_due) break;
    if (off_due && (!on_due || off_frame_ <= pending_[head_].frame)) {
      noteOff(offsetOf(off_frame_), out);
      continue;
    }
    const Pending beat = pending_[head_];
    head_ = (head_ + 1) % kCapacity;
    --count_;
    const uint32_t offset = offsetOf(beat.frame);
    // A beat before the last note ended: end that first.
    if (sounding_) noteOff(offset, out);
    out.add(offset, uint8_t(0x90 | (settings_.channel - 1)), 3, beat.note, beat.velocity);
    sounding_ = true;
    sounding_note_ = beat.note;
    off_frame_ = std::max(beat.frame, start) + settings_.length;
  }
}

void BeatNotes::silence(MidiEventList& out) {
  if (sounding_) noteOff(0, out);
  count_ = 0;
}

}  // namespace tesk_live
