#include "bar_pointer/ForwardFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace bar_pointer {

namespace {

// Two doubles in one register, for sums that run side by side; the same
// bits as integers, for masks.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
typedef long long PairBits __attribute__((vector_size(2 * sizeof(double))));

// framesToNextBeat() sums this many numbers of frames ahead at a time; each
// ring is followed by copies of its first kBlock slots.
constexpr int kBlock = 8;

Pair load(const double* at) {
  Pair v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace

ForwardFilter::ForwardFilter(const StateSpace& space, double observation_lambda,
                             double min_onset, double tempo_jump_probability)
    : space_(space),
      layout_(space),
      observation_lambda_(observation_lambda),
      min_onset_(min_onset),
      stay_(1.0 - tempo_jump_probability),
      jump_(tempo_jump_probability / space.tempi()),
      wrap_(space.tempi()),
      entering_(space.tempi() + 1),
      until_((space.interval(space.tempi() - 1) + kBlock - 1) / kBlock * kBlock),
      mass_(space.tempi()),
      top_(space.tempi()) {
  const int tempi = space.tempi();
  int size = kBlock;
  for (int t = 0; t < tempi; ++t) {
    ring_at_.push_back(size);
    size += space.interval(t) + kBlock;
  }
  alpha_.resize(size);
  // The arcs by origin: each origin's weights over the tempi it reaches,
  // from the first to the last (0 where it has no arc), widened to whole
  // pairs of tempi so that every origin adds to the same aligned pairs.
  reach_.assign(tempi, {tempi, 0});
  for (int to = 0; to < tempi; ++to)
    for (const StateSpace::Arc& a : space.arcsInto(to)) {
      reach_[a.from].first = std::min(reach_[a.from].first, to);
      reach_[a.from].second = std::max(reach_[a.from].second, to + 1);
    }
  for (int from = 0; from < tempi; ++from) {
    reach_[from].first -= reach_[from].first % 2;
    reach_[from].second += reach_[from].second % 2;
    weights_at_.push_back(int(weights_.size()));
    weights_.resize(weights_.size() + std::max(0, reach_[from].second - reach_[from].first), 0.0);
  }
  for (int to = 0; to < tempi; ++to)
    for (const StateSpace::Arc& a : space.arcsInto(to))
      weights_[weights_at_[a.from] + to - reach_[a.from].first] = a.p;
  restart();
}

void ForwardFilter::restart() {
  std::fill(alpha_.begin(), alpha_.end(), 1.0 / space_.states());
  for (int t = 0; t < space_.tempi(); ++t) mass_[t] = double(space_.interval(t)) / space_.states();
  best_ = {};
}

void ForwardFilter::step(double o) {
  const int tempi = space_.tempi();
  // Mass leaving each tempo's last position, redistributed over tempi.
  for (int t = 0; t < tempi; ++t) wrap_[t] = alpha_[slot(t, space_.interval(t) - 1)];
  layout_.advance();
  enterBeats();
  // Weigh: beat states by the likelihood ratio, the rest by 1 (a common
  // factor that the normalisation removes).
  const double ratio = beatLikelihoodRatio(o, observation_lambda_, min_onset_);
  double expected = 0.0;  // predicted probability of a beat state
  for (int t = 0; t < tempi; ++t)
    for (int p = 0; p < space_.beatRegion(); ++p) {
      double& a = alpha_[slot(t, p)];
      expected += a;
      a *= ratio;
    }
  const double chance =
      std::min(1.0, double(space_.beatRegion()) / space_.interval(best_.tempo));
  gain_ = std::log((expected * ratio + (1.0 - expected)) / (chance * ratio + (1.0 - chance)));

  const double total = sumTempi();
  if (!(total > 0.0) || !std::isfinite(total)) {
    restart();
    return;
  }
  // Found before normalising: scaling can round distinct values to equals.
  layout_.stateOf(firstOfHighest(), best_.tempo, best_.position);
  normalise(1.0 / total);
}

// Position 0 of every tempo receives the mass that left the last positions.
// Taken origin by origin in increasing order, each tempo's sum adds its
// arcs in the order StateSpace lists them; a 0 weight inside an origin's
// reach adds 0, which changes no sum of non-negative terms. The jumps give
// every tempo the same share of all that left.
void ForwardFilter::enterBeats() {
  const int tempi = space_.tempi();
  double* entering = entering_.data();
  std::fill(entering_.begin(), entering_.end(), 0.0);
  for (int from = 0; from < tempi; ++from) {
    const double w = wrap_[from];
    const int first = reach_[from].first, end = reach_[from].second;
    const double* p = weights_.data() + weights_at_[from] - first;
    for (int to = first; to < end; ++to) entering[to] += w * p[to];
  }
  if (jump_ > 0.0) {
    double left = 0.0;
    for (int from = 0; from < tempi; ++from) left += wrap_[from];
    const double jumped = left * jump_;
    for (int to = 0; to < tempi; ++to) entering[to] = stay_ * entering[to] + jumped;
  }
  for (int to = 0; to < tempi; ++to) alpha_[slot(to, 0)] = entering[to];
}

// Each tempo's mass is summed in slot order, and the tempi are added up in
// their order; four tempi run side by side, two to a register, so that
// their chains of additions overlap instead of waiting on each other.
double ForwardFilter::sumTempi() {
  const int tempi = space_.tempi();
  const double* alpha = alpha_.data();
  double total = 0.0;
  int t = 0;
  for (; t + 4 <= tempi; t += 4) {
    const double* a[4];
    int n[4];
    for (int k = 0; k < 4; ++k) {
      a[k] = alpha + ring_at_[t + k];
      n[k] = space_.interval(t + k);
    }
    const int common = std::min(std::min(n[0], n[1]), std::min(n[2], n[3]));
    Pair m01 = {0.0, 0.0}, m23 = m01, x01 = {-1.0, -1.0}, x23 = x01;
    for (int j = 0; j < common; ++j) {
      const Pair v01 = {a[0][j], a[1][j]}, v23 = {a[2][j], a[3][j]};
      m01 += v01;
      m23 += v23;
      x01 = v01 > x01 ? v01 : x01;
      x23 = v23 > x23 ? v23 : x23;
    }
    double m[4] = {m01[0], m01[1], m23[0], m23[1]};
    double x[4] = {x01[0], x01[1], x23[0], x23[1]};
    for (int k = 0; k < 4; ++k) {
      for (int j = common; j < n[k]; ++j) {
        m[k] += a[k][j];
        x[k] = a[k][j] > x[k] ? a[k][j] : x[k];
      }
      mass_[t + k] = m[k];
      top_[t + k] = x[k];
      total += m[k];
    }
  }
  for (; t < tempi; ++t) {
    const double* a = alpha + ring_at_[t];
    double m = 0.0, x = -1.0;
    for (int j = 0; j < space_.interval(t); ++j) {
      m += a[j];
      x = a[j] > x ? a[j] : x;
    }
    mass_[t] = m;
    top_[t] = x;
    total += m;
  }
  return total;
}

// The flat index of the most probable state, the first of equals in
// StateSpace order: the first tempo holding the highest value, and its
// first position holding that value (equals are common while the evidence
// is still flat, and the beat rule reads the position).
int ForwardFilter::firstOfHighest() const {
  int tempo = 0;
  double top = -1.0;
  for (int t = 0; t < space_.tempi(); ++t)
    if (top_[t] > top) {
      top = top_[t];
      tempo = t;
    }
  const double* a = alpha_.data() + ring_at_[tempo];
  for (int p = 0; p < space_.interval(tempo); ++p) {
    const int i = layout_.ringSlot(tempo, p);
    if (a[i] == top) return space_.offset(tempo) + i;
  }
  return space_.offset(tempo);  // not reached: top is one of the tempo's values
}

void ForwardFilter::normalise(double scale) {
  for (int t = 0; t < space_.tempi(); ++t) {
    const int n = space_.interval(t);
    double* a = alpha_.data() + ring_at_[t];
    for (int i = 0; i < n; ++i) a[i] *= scale;
    for (int i = 0; i < kBlock; ++i) a[n + i] = a[i < n ? i : i % n];
  }
  for (double& m : mass_) m *= scale;
}

// The posterior summed over all tempi by the number of frames d until
// position 0, and the first d of the highest sum. Position p, in ring slot
// (h + p) mod n, falls due in (n - p) mod n frames, so d frames from now
// is ring slot (h - d) mod n: kBlock values of d are slots read backwards,
// contiguous thanks to the copies after the ring. Each sum runs over the
// tempi in their order; a value of d beyond a tempo's interval is masked to
// add 0, which changes no sum of non-negative terms.
int ForwardFilter::framesToNextBeat() const {
  static_assert(kBlock == 8, "four pairs per block");
  const int tempi = space_.tempi();
  const int shortest = space_.interval(0), longest = space_.interval(tempi - 1);
  double* until = until_.data();
  for (int d0 = 0; d0 < longest; d0 += kBlock) {
    // Lanes hold d0 + 1 and d0, d0 + 3 and d0 + 2, and so on.
    Pair u0 = {0.0, 0.0}, u1 = u0, u2 = u0, u3 = u0;
    // The slots of d0 .. d0 + kBlock - 1 end at `from`, read backwards.
    auto from = [&](int t) {
      const int n = space_.interval(t);
      int s = layout_.head(t) - d0;
      s += s < 0 ? n : 0;
      s += s < kBlock - 1 ? n : 0;
      return alpha_.data() + ring_at_[t] + s;
    };
    int t = std::max(0, d0 + 1 - shortest);  // the first tempo longer than d0
    for (; t < tempi && space_.interval(t) < d0 + kBlock; ++t) {
      const double* a = from(t);
      const long long v = space_.interval(t) - d0;  // lanes in the tempo's interval
      u0 += Pair(PairBits(load(a - 1)) & PairBits{-(1 < v), -(0 < v)});
      u1 += Pair(PairBits(load(a - 3)) & PairBits{-(3 < v), -(2 < v)});
      u2 += Pair(PairBits(load(a - 5)) & PairBits{-(5 < v), -(4 < v)});
      u3 += Pair(PairBits(load(a - 7)) & PairBits{-(7 < v), -(6 < v)});
    }
    for (; t < tempi; ++t) {
      const double* a = from(t);
      u0 += load(a - 1);
      u1 += load(a - 3);
      u2 += load(a - 5);
      u3 += load(a - 7);
    }
    double* u = until + d0;
    u[0] = u0[1], u[1] = u0[0], u[2] = u1[1], u[3] = u1[0];
    u[4] = u2[1], u[5] = u2[0], u[6] = u3[1], u[7] = u3[0];
  }
  int best = 0;
  for (int d = 1; d < longest; ++d)
    if (until[d] > until[best]) best = d;
  return best;
}

}  // namespace bar_pointer
