#include "beat_time.h"

#include <algorithm>

namespace tesk_pipeline {

namespace {

double windowCentre(const TrackerSettings& s, int64_t frame) {
  return (double(frame) * s.advance + s.window / 2.0) / s.sample_rate;
}

}  // namespace

double announcedBeatTime(const TrackerSettings& s, int64_t frame, int ahead) {
  if (s.tracker == TrackerKind::kStpm) return windowCentre(s, frame);
  const double decided = (double(frame) * s.advance + s.window) / s.sample_rate;
  return std::max(decided, windowCentre(s, frame + ahead));
}

double decodedBeatTime(const TrackerSettings& s, int64_t frame) { return windowCentre(s, frame); }

}  // namespace tesk_pipeline
