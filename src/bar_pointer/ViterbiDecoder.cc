#include "bar_pointer/ViterbiDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace bar_pointer {

ViterbiDecoder::ViterbiDecoder(const Settings& s)
    : s_(validated(s)),
      space_(std::make_unique<StateSpace>(s_)),
      layout_(*space_),
      filter_(*space_, s_.observation_lambda, s_.min_onset, 0.0),  // no jumps offline
      evidence_(s_.confidenceFrames(), s_.confidence_half_nats),
      score_(space_->states(), 0.0),
      wrap_(space_->tempi()),
      segment_frames_(std::llround(s_.offline_segment_seconds * s_.framesPerSecond())),
      lookahead_frames_(std::llround(s_.offline_lookahead_seconds * s_.framesPerSecond())) {
  if (space_->tempi() > std::numeric_limits<uint16_t>::max())
    throw std::invalid_argument("bar_pointer: too many tempi for the decoder");
  for (int to = 0; to < space_->tempi(); ++to) {
    arc_at_.push_back(int(log_arc_.size()));
    for (const StateSpace::Arc& a : space_->arcsInto(to)) log_arc_.push_back(std::log(a.p));
  }
}

void ViterbiDecoder::push(double o) {
  if (finished_) throw std::logic_error("bar_pointer: push after finish");
  if (!(o >= 0.0 && o <= 1.0))
    throw std::invalid_argument("bar_pointer: an onset feature outside [0, 1]");
  const int tempi = space_->tempi();
  for (int t = 0; t < tempi; ++t) wrap_[t] = score_[layout_.slot(t, space_->interval(t) - 1)];
  layout_.advance();
  const std::size_t row = from_.size();
  from_.resize(row + tempi);
  for (int to = 0; to < tempi; ++to) {
    const std::vector<StateSpace::Arc>& arcs = space_->arcsInto(to);
    const double* la = log_arc_.data() + arc_at_[to];
    double best = -std::numeric_limits<double>::infinity();
    int from = to;
    for (std::size_t a = 0; a < arcs.size(); ++a) {
      const double v = wrap_[arcs[a].from] + la[a];
      if (v > best) {
        best = v;
        from = arcs[a].from;
      }
    }
    score_[layout_.slot(to, 0)] = best;
    from_[row + to] = uint16_t(from);
  }
  const double gain = std::log(beatLikelihoodRatio(o, s_.observation_lambda, s_.min_onset));
  for (int t = 0; t < tempi; ++t)
    for (int p = 0; p < space_->beatRegion(); ++p) score_[layout_.slot(t, p)] += gain;

  filter_.step(o);
  evidence_.push(filter_.lastGain());
  lock_.push_back(float(evidence_.confidence()));
  onset_.push_back(float(o));
  ++frame_;
  if (frame_ - base_ >= segment_frames_) {
    traceBack(frame_ - lookahead_frames_);
    rebase();
  }
}

void ViterbiDecoder::finish() {
  if (finished_) return;
  finished_ = true;
  if (frame_ > base_) traceBack(frame_);
}

std::vector<DecodedBeat> ViterbiDecoder::takeBeats() {
  std::vector<DecodedBeat> out;
  out.swap(ready_);
  return out;
}

std::size_t ViterbiDecoder::pendingBytes() const {
  return from_.capacity() * sizeof(uint16_t) + (lock_.capacity() + onset_.capacity()) * sizeof(float);
}

// Follows the best path from the newest frame back to base_ and makes the
// beats before `final_before` final.
void ViterbiDecoder::traceBack(int64_t final_before) {
  const int n = space_->states();
  int at = 0;
  for (int i = 1; i < n; ++i)
    if (score_[i] > score_[at]) at = i;
  int tempo = 0, position = 0;
  layout_.stateOf(at, tempo, position);

  const int tempi = space_->tempi();
  std::vector<DecodedBeat> path;  // newest first
  int64_t f = frame_ - 1;
  while (f >= base_) {
    const int64_t b = f - position;
    if (b < base_) break;
    DecodedBeat beat;
    beat.frame = b;
    beat.interval = space_->interval(tempo);
    beat.tempo = 60.0 * s_.framesPerSecond() / beat.interval;
    path.push_back(beat);
    tempo = from_[std::size_t(b - base_) * tempi + tempo];
    position = space_->interval(tempo) - 1;
    f = b - 1;
  }
  std::reverse(path.begin(), path.end());
  for (DecodedBeat& b : path) {
    if (b.frame >= final_before) break;  // the next trace starts there
    // Where two stretches of path meet, a beat may be seen twice.
    if (last_final_ >= 0 && double(b.frame - last_final_) < 0.5 * b.interval) continue;
    b.confidence = confidenceAt(b.frame);
    ready_.push_back(b);
    last_final_ = b.frame;
  }
}

double ViterbiDecoder::confidenceAt(int64_t frame) const {
  double peak = 0.0;
  for (int64_t f = std::max(base_, frame - s_.accent_frames);
       f <= std::min(frame_ - 1, frame + s_.accent_frames); ++f)
    peak = std::max(peak, double(onset_[std::size_t(f - base_)]));
  return double(lock_[std::size_t(frame - base_)]) * peak;
}

// Drops the back-pointers of frames that are final and renormalises the scores.
void ViterbiDecoder::rebase() {
  const int64_t keep_from = frame_ - lookahead_frames_;
  const std::size_t drop = std::size_t(keep_from - base_);
  const int tempi = space_->tempi();
  from_.erase(from_.begin(), from_.begin() + std::ptrdiff_t(drop * tempi));
  lock_.erase(lock_.begin(), lock_.begin() + std::ptrdiff_t(drop));
  onset_.erase(onset_.begin(), onset_.begin() + std::ptrdiff_t(drop));
  base_ = keep_from;
  const double top = *std::max_element(score_.begin(), score_.end());
  for (double& v : score_) v -= top;
}

}  // namespace bar_pointer
