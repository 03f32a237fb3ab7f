#include "bar_pointer/ViterbiDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace bar_pointer {

namespace {

Settings beatsOnly(Settings s) {
  s.bar_lengths.clear();
  return s;
}

}  // namespace

// The lock that a beat's confidence reads is that of a filter of the beats
// alone, with bars too: it is the lock on the beat that it stands for, and
// a filter of the bars would take three times as long as the decoding.
ViterbiDecoder::ViterbiDecoder(const Settings& s)
    : s_(validated(s)),
      space_(std::make_unique<StateSpace>(s_)),
      beat_space_(s_.bar_lengths.empty() ? nullptr : std::make_unique<StateSpace>(beatsOnly(s_))),
      layout_(*space_),
      filter_(beat_space_ ? *beat_space_ : *space_, s_.observation_lambda, s_.min_onset,
              0.0),  // no jumps offline
      evidence_(s_.confidenceFrames(), s_.confidence_half_nats),
      score_(space_->states(), 0.0),
      wrap_(space_->cycles()),
      kept_(space_->cycles()),
      kept_from_(space_->cycles()),
      segment_frames_(std::llround(s_.offline_segment_seconds * s_.framesPerSecond())),
      lookahead_frames_(std::llround(s_.offline_lookahead_seconds * s_.framesPerSecond())) {
  if (space_->cycles() > std::numeric_limits<uint16_t>::max())
    throw std::invalid_argument("bar_pointer: too many cycles for the decoder");
  for (int to = 0; to < space_->tempi(); ++to) {
    arc_at_.push_back(int(log_arc_.size()));
    for (const StateSpace::Arc& a : space_->arcsInto(to)) log_arc_.push_back(std::log(a.p));
  }
  for (int from = 0; from < space_->metres(); ++from)
    for (int to = 0; to < space_->metres(); ++to)
      log_metre_.push_back(std::log(space_->metreChange(from, to)));
}

void ViterbiDecoder::push(double o) {
  if (finished_) throw std::logic_error("bar_pointer: push after finish");
  if (!(o >= 0.0 && o <= 1.0))
    throw std::invalid_argument("bar_pointer: an onset feature outside [0, 1]");
  if (space_->hasBars())
    throw std::logic_error("bar_pointer: bars need activations, an onset feature shows no downbeat");
  const double ratio = beatLikelihoodRatio(o, s_.observation_lambda, s_.min_onset);
  advance({ratio, ratio});
  filter_.step(o);
  keep(o);
}

void ViterbiDecoder::pushActivations(double beat, double downbeat) {
  if (finished_) throw std::logic_error("bar_pointer: push after finish");
  requireActivations(beat, downbeat);
  if (!space_->hasBars()) {
    push(std::min(1.0, beat + downbeat));
    return;
  }
  advance(barLikelihoodRatios(beat, downbeat, s_.observation_lambda, s_.min_onset));
  filter_.step(beat, downbeat);
  keep(std::min(1.0, beat + downbeat));
}

// Tempo changes are taken within each metre first (the best arc into every
// tempo, the first of equals in arcsInto order), then the metre changes:
// the best of the metres' bests, the first of equals in metre order.
void ViterbiDecoder::advance(const BarLikelihoodRatios& ratio) {
  const int cycles = space_->cycles(), tempi = space_->tempi(), metres = space_->metres();
  for (int c = 0; c < cycles; ++c) wrap_[c] = score_[layout_.slot(c, space_->length(c) - 1)];
  layout_.advance();
  for (int m = 0; m < metres; ++m)
    for (int to = 0; to < tempi; ++to) {
      const std::vector<StateSpace::Arc>& arcs = space_->arcsInto(to);
      const double* la = log_arc_.data() + arc_at_[to];
      double best = -std::numeric_limits<double>::infinity();
      int from = to;
      for (std::size_t a = 0; a < arcs.size(); ++a) {
        const double v = wrap_[space_->cycle(m, arcs[a].from)] + la[a];
        if (v > best) {
          best = v;
          from = arcs[a].from;
        }
      }
      kept_[space_->cycle(m, to)] = best;
      kept_from_[space_->cycle(m, to)] = space_->cycle(m, from);
    }
  const std::size_t row = from_.size();
  from_.resize(row + cycles);
  for (int c = 0; c < cycles; ++c) {
    double best = kept_[c];
    int from = kept_from_[c];
    if (metres > 1) {
      const int to = space_->metreOf(c), tempo = space_->tempo(c);
      best = -std::numeric_limits<double>::infinity();
      for (int m = 0; m < metres; ++m) {
        const double v = kept_[space_->cycle(m, tempo)] + log_metre_[std::size_t(m * metres + to)];
        if (v > best) {
          best = v;
          from = kept_from_[space_->cycle(m, tempo)];
        }
      }
    }
    score_[layout_.slot(c, 0)] = best;
    from_[row + c] = uint16_t(from);
  }
  const double downbeat_gain = std::log(ratio.downbeat), beat_gain = std::log(ratio.beat);
  const int region = space_->beatRegion();
  for (int c = 0; c < cycles; ++c) {
    for (int p = 0; p < region; ++p) score_[layout_.slot(c, p)] += downbeat_gain;
    for (int k = 1; k < space_->beats(c); ++k)
      for (int p = k * space_->interval(c); p < k * space_->interval(c) + region; ++p)
        score_[layout_.slot(c, p)] += beat_gain;
  }
}

// The per-frame values kept for the beats' confidences, and the segment
// traced back once full.
void ViterbiDecoder::keep(double onset) {
  evidence_.push(filter_.lastGain());
  lock_.push_back(float(evidence_.confidence()));
  onset_.push_back(float(onset));
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
// beats before `final_before` final. Each cycle the path went through
// started at its position 0 and passed a beat every interval since.
void ViterbiDecoder::traceBack(int64_t final_before) {
  const int n = space_->states();
  int at = 0;
  for (int i = 1; i < n; ++i)
    if (score_[i] > score_[at]) at = i;
  int cycle = 0, position = 0;
  layout_.stateOf(at, cycle, position);

  const int cycles = space_->cycles();
  std::vector<DecodedBeat> path;  // newest first
  int64_t f = frame_ - 1;
  while (f >= base_) {
    const int64_t start = f - position;
    const int interval = space_->interval(cycle);
    for (int k = position / interval; k >= 0 && start + int64_t(k) * interval >= base_; --k) {
      DecodedBeat beat;
      beat.frame = start + int64_t(k) * interval;
      beat.interval = interval;
      beat.tempo = 60.0 * s_.framesPerSecond() / interval;
      beat.beat_in_bar = space_->hasBars() ? k + 1 : 0;
      path.push_back(beat);
    }
    if (start < base_) break;
    cycle = from_[std::size_t(start - base_) * cycles + cycle];
    position = space_->length(cycle) - 1;
    f = start - 1;
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
  const int cycles = space_->cycles();
  from_.erase(from_.begin(), from_.begin() + std::ptrdiff_t(drop * cycles));
  lock_.erase(lock_.begin(), lock_.begin() + std::ptrdiff_t(drop));
  onset_.erase(onset_.begin(), onset_.begin() + std::ptrdiff_t(drop));
  base_ = keep_from;
  const double top = *std::max_element(score_.begin(), score_.end());
  for (double& v : score_) v -= top;
}

}  // namespace bar_pointer
