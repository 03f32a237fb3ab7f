#include "bar_pointer/OnlineTracker.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "bar_pointer/Observation.h"

namespace bar_pointer {

OnlineTracker::OnlineTracker(const Settings& s)
    : s_(validated(s)),
      space_(std::make_unique<StateSpace>(s_)),
      feature_(s_),
      learned_(s_.activation == Settings::Activation::kLearned && learnedFramingProblem(s_).empty()
                   ? std::make_unique<activation::LearnedActivation>(s_.sample_rate, s_.window_size)
                   : nullptr),
      filter_(*space_, s_.observation_lambda, s_.min_onset, s_.tempo_jump_probability),
      evidence_(s_.confidenceFrames(), s_.confidence_half_nats),
      onsets_(std::size_t(4 * intervalRange(s_).longest + 2 * s_.accent_frames + 2), 0.0) {}

FrameResult OnlineTracker::process(const double* magnitudes, std::size_t count) {
  if (learned_) {
    const activation::BeatProbabilities p = learned_->process(magnitudes, count);
    return processActivations(p.beat, p.downbeat);
  }
  if (s_.activation == Settings::Activation::kLearned)
    throw std::invalid_argument(learnedFramingProblem(s_));
  requireBeatsOnly();
  return processOnset(feature_.process(magnitudes, count));
}

FrameResult OnlineTracker::processOnset(double onset) {
  if (!(onset >= 0.0 && onset <= 1.0))
    throw std::invalid_argument("bar_pointer: an onset feature outside [0, 1]");
  requireBeatsOnly();
  filter_.step(onset);
  return decide(onset);
}

FrameResult OnlineTracker::processActivations(double beat, double downbeat) {
  requireActivations(beat, downbeat);
  const double onset = std::min(1.0, beat + downbeat);
  FrameResult r;
  if (!space_->hasBars()) {
    r = processOnset(onset);
  } else {
    filter_.step(beat, downbeat);
    r = decide(onset);
  }
  r.beat_activation = beat;
  r.downbeat_activation = downbeat;
  return r;
}

void OnlineTracker::requireBeatsOnly() const {
  if (space_->hasBars())
    throw std::logic_error("bar_pointer: bars need activations, an onset feature shows no downbeat");
}

FrameResult OnlineTracker::decide(double onset) {
  onsets_[std::size_t(frame_ % int64_t(onsets_.size()))] = onset;
  FrameResult r;
  r.frame = frame_++;
  r.onset = onset;
  const ForwardFilter::State best = filter_.best();
  r.interval = space_->interval(best.cycle);
  evidence_.push(filter_.lastGain());
  const bool by_best_state = s_.beat_decision == Settings::BeatDecision::kBestStateWrap;
  // The most probable time of the next beat, over all cycles together: the
  // single best state alone flickers between tempi and phases of similar
  // probability.
  const int until = by_best_state ? (r.interval - best.position % r.interval) % r.interval
                                  : filter_.framesToNextBeat();
  const int64_t due = r.frame + until;
  auto spaced = [&](int64_t beat) {
    return last_beat_ < 0 || double(beat - last_beat_) >= s_.min_beat_spacing * r.interval;
  };
  auto announce = [&](int64_t beat) {
    r.beat = true;
    r.beat_frame = beat;
    last_beat_ = beat;
    if (space_->hasBars()) r.beat_in_bar = filter_.beatInBar(int(beat - r.frame));
  };
  if (!by_best_state) {
    if (until <= s_.announce_ahead && spaced(due)) announce(due);
  } else {
    // A wrap is a fall of the phase by more than half a cycle, whether the
    // best state passed position 0 or another state took over.
    const double phase = double(best.position % r.interval) / r.interval;
    const bool wrapped = r.frame > 0 && last_phase_ - phase > 0.5;
    last_phase_ = phase;
    if (s_.announce_ahead > 0 && until <= s_.announce_ahead && spaced(due))
      announce(due);
    else if (wrapped && spaced(r.frame))
      announce(r.frame);
  }
  r.confidence = evidence_.confidence() * accentOf(r.beat ? r.beat_frame : due, r.interval);
  r.tempo = tempoNear(r.interval);
  return r;
}

// The weaker of the onset peaks at the same beat two and four beats back.
double OnlineTracker::accentOf(int64_t beat, int interval) const {
  const int64_t newest = frame_ - 1, ring = int64_t(onsets_.size());
  double accent = 1.0;
  for (int back : {2, 4}) {
    const int64_t centre = beat - int64_t(back) * interval;
    double peak = 0.0;
    for (int64_t f = centre - s_.accent_frames; f <= centre + s_.accent_frames; ++f)
      if (f >= 0 && f <= newest && f > newest - ring) peak = std::max(peak, onsets_[std::size_t(f % ring)]);
    accent = std::min(accent, peak);
  }
  return accent;
}

double OnlineTracker::tempoNear(int interval) {
  const std::vector<double>& mass = filter_.tempoPosterior();
  double weight = 0.0, sum = 0.0;
  for (int t = 0; t < space_->tempi(); ++t) {
    const double i = space_->tempoInterval(t);
    if (std::fabs(i / interval - 1.0) > 0.1) continue;
    weight += mass[t];
    sum += mass[t] * i;
  }
  const double mean = weight > 0.0 ? sum / weight : interval;
  // Follows a steady tempo within a second; a jump is taken at once.
  if (smoothed_interval_ == 0.0 || std::fabs(mean / smoothed_interval_ - 1.0) > 0.1)
    smoothed_interval_ = mean;
  else
    smoothed_interval_ += (mean - smoothed_interval_) / s_.framesPerSecond();
  return 60.0 * s_.framesPerSecond() / smoothed_interval_;
}

}  // namespace bar_pointer
