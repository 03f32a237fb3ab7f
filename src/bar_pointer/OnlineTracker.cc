#include "bar_pointer/OnlineTracker.h"

#include <cmath>
#include <stdexcept>

namespace bar_pointer {

namespace {

// Beats whose spacing gives the reported tempo.
constexpr std::size_t kTempoBeats = 8;

const Settings& checked(const Settings& s) {
  validate(s);
  return s;
}

}  // namespace

OnlineTracker::OnlineTracker(const Settings& s)
    : s_(checked(s)),
      space_(std::make_unique<StateSpace>(s_)),
      feature_(s_),
      filter_(*space_, s_.observation_lambda, s_.min_onset) {}

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
  // The most probable time of the next beat, over all tempi together: the
  // single best state alone flickers between tempi and phases of similar
  // probability.
  const int until = filter_.framesToNextBeat();
  r.confidence = filter_.beatProbability(until, s_.confidence_frames);
  const int64_t due = r.frame + until;
  if (until <= s_.announce_ahead &&
      (last_beat_ < 0 || double(due - last_beat_) >= s_.min_beat_spacing * r.interval)) {
    r.beat = true;
    r.beat_frame = due;
    last_beat_ = due;
    recent_beats_.push_back(due);
    if (recent_beats_.size() > kTempoBeats) recent_beats_.pop_front();
  }
  r.tempo = tempoOf(r.interval);
  return r;
}

double OnlineTracker::tempoOf(int interval) const {
  // The newest run of beats whose spacings all lie within 10 % of the interval.
  std::size_t n = recent_beats_.size(), first = n ? n - 1 : 0;
  while (first > 0) {
    const double gap = double(recent_beats_[first] - recent_beats_[first - 1]);
    if (std::fabs(gap / interval - 1.0) > 0.1) break;
    --first;
  }
  const double fps = s_.framesPerSecond();
  if (n - first < 3) return 60.0 * fps / interval;
  const double mean = double(recent_beats_[n - 1] - recent_beats_[first]) / double(n - 1 - first);
  return 60.0 * fps / mean;
}

}  // namespace bar_pointer
