#include "bar_pointer/OnlineTracker.h"

#include <stdexcept>

namespace bar_pointer {

namespace {

const Settings& checked(const Settings& s) {
  validate(s);
  return s;
}

}  // namespace

OnlineTracker::OnlineTracker(const Settings& s)
    : s_(checked(s)),
      space_(std::make_unique<StateSpace>(s_)),
      feature_(s_),
      filter_(*space_, s_.observation_lambda) {}

FrameResult OnlineTracker::process(const double* magnitudes, std::size_t count) {
  return processOnset(feature_.process(magnitudes, count));
}

FrameResult OnlineTracker::processOnset(double onset) {
  if (!(onset >= 0.0 && onset <= 1.0))
    throw std::invalid_argument("bar_pointer: an onset feature outside [0, 1]");
  filter_.step(onset);
  FrameResult r;
  r.frame = frame_++;
  r.onset = onset;
  const ForwardFilter::State best = filter_.best();
  r.interval = space_->interval(best.tempo);
  r.tempo = 60.0 * s_.framesPerSecond() / r.interval;
  // Frames until the best state's next beat (0: a beat on this frame).
  const int until = (r.interval - best.position) % r.interval;
  r.confidence = filter_.beatProbability(until, s_.confidence_frames);
  const int64_t due = r.frame + until;
  if (until <= s_.announce_ahead &&
      (last_beat_ < 0 || double(due - last_beat_) >= s_.min_beat_spacing * r.interval)) {
    r.beat = true;
    r.beat_frame = due;
    last_beat_ = due;
  }
  return r;
}

}  // namespace bar_pointer
