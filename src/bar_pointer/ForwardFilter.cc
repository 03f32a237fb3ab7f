#include "bar_pointer/ForwardFilter.h"

#include <algorithm>
#include <array>
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
      jump_(tempo_jump_probability / space.cycles()),
      wrap_(space.cycles()),
      entering_(space.cycles() + 1),
      changed_(space.cycles()),
      until_((space.tempoInterval(space.tempi() - 1) + kBlock - 1) / kBlock * kBlock),
      mass_(space.cycles()),
      tempo_mass_(space.tempi()),
      top_(space.cycles()) {
  const int tempi = space.tempi();
  int size = kBlock;
  for (int c = 0; c < space.cycles(); ++c) {
    ring_at_.push_back(size);
    size += space.length(c) + kBlock;
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
  for (int c = 0; c < space_.cycles(); ++c) mass_[c] = double(space_.length(c)) / space_.states();
  std::fill(tempo_mass_.begin(), tempo_mass_.end(), 0.0);
  for (int c = 0; c < space_.cycles(); ++c) tempo_mass_[space_.tempo(c)] += mass_[c];
  best_ = {};
}

void ForwardFilter::step(double o) {
  const double ratio = beatLikelihoodRatio(o, observation_lambda_, min_onset_);
  step(BarLikelihoodRatios{ratio, ratio});
}

void ForwardFilter::step(double beat, double downbeat) {
  if (!space_.hasBars()) {
    step(std::min(1.0, beat + downbeat));
    return;
  }
  step(barLikelihoodRatios(beat, downbeat, observation_lambda_, min_onset_));
}

void ForwardFilter::step(const BarLikelihoodRatios& ratio) {
  const int cycles = space_.cycles();
  // Mass leaving each cycle's last position, redistributed over cycles.
  for (int c = 0; c < cycles; ++c) wrap_[c] = alpha_[slot(c, space_.length(c) - 1)];
  layout_.advance();
  enterCycles();
  // Weigh: beat states by their likelihood ratio, the rest by 1 (a common
  // factor that the normalisation removes).
  const int region = space_.beatRegion();
  double downbeats = 0.0, beats = 0.0;  // predicted probability of their states
  for (int c = 0; c < cycles; ++c) {
    for (int p = 0; p < region; ++p) {
      double& a = alpha_[slot(c, p)];
      downbeats += a;
      a *= ratio.downbeat;
    }
    const int interval = space_.interval(c);
    for (int k = 1; k < space_.beats(c); ++k)
      for (int p = k * interval; p < k * interval + region; ++p) {
        double& a = alpha_[slot(c, p)];
        beats += a;
        a *= ratio.beat;
      }
  }
  // At a random phase of the best cycle, the beat states' share of it.
  const double any_beat = std::min(1.0, double(region) / space_.interval(best_.cycle));
  const double downbeat_chance = any_beat / space_.beats(best_.cycle);
  const double beat_chance = any_beat - downbeat_chance;
  gain_ = std::log((downbeats * ratio.downbeat + beats * ratio.beat + (1.0 - downbeats - beats)) /
                   (downbeat_chance * ratio.downbeat + beat_chance * ratio.beat +
                    (1.0 - downbeat_chance - beat_chance)));

  const double total = sumCycles();
  if (!(total > 0.0) || !std::isfinite(total)) {
    restart();
    return;
  }
  // Found before normalising: scaling can round distinct values to equals.
  layout_.stateOf(firstOfHighest(), best_.cycle, best_.position);
  normalise(1.0 / total);
}

// Position 0 of every cycle receives the mass that left the last positions.
// Tempo changes are taken metre by metre, origin by origin in increasing
// order, so that each cycle's sum adds its arcs in the order StateSpace
// lists them; a 0 weight inside an origin's reach adds 0, which changes no
// sum of non-negative terms (the reach of a metre's last tempi may end one
// past them, on the next metre's first, or on the spare slot after the
// last). Then the metre changes at the downbeat, and the jumps give every
// cycle the same share of all that left.
void ForwardFilter::enterCycles() {
  const int tempi = space_.tempi(), metres = space_.metres(), cycles = space_.cycles();
  std::fill(entering_.begin(), entering_.end(), 0.0);
  for (int m = 0; m < metres; ++m) {
    double* entering = entering_.data() + space_.cycle(m, 0);
    const double* wrap = wrap_.data() + space_.cycle(m, 0);
    for (int from = 0; from < tempi; ++from) {
      const double w = wrap[from];
      const int first = reach_[from].first, end = reach_[from].second;
      const double* p = weights_.data() + weights_at_[from] - first;
      for (int to = first; to < end; ++to) entering[to] += w * p[to];
    }
  }
  double* entered = entering_.data();
  if (metres > 1) {
    std::fill(changed_.begin(), changed_.end(), 0.0);
    for (int to = 0; to < metres; ++to)
      for (int from = 0; from < metres; ++from) {
        const double p = space_.metreChange(from, to);
        const double* in = entering_.data() + space_.cycle(from, 0);
        double* out = changed_.data() + space_.cycle(to, 0);
        for (int t = 0; t < tempi; ++t) out[t] += p * in[t];
      }
    entered = changed_.data();
  }
  if (jump_ > 0.0) {
    double left = 0.0;
    for (int from = 0; from < cycles; ++from) left += wrap_[from];
    const double jumped = left * jump_;
    for (int to = 0; to < cycles; ++to) entered[to] = stay_ * entered[to] + jumped;
  }
  for (int to = 0; to < cycles; ++to) alpha_[slot(to, 0)] = entered[to];
}

// Each cycle's mass is summed in slot order, and the cycles are added up in
// their order; four cycles run side by side, two to a register, so that
// their chains of additions overlap instead of waiting on each other.
double ForwardFilter::sumCycles() {
  const int cycles = space_.cycles();
  const double* alpha = alpha_.data();
  double total = 0.0;
  int c = 0;
  for (; c + 4 <= cycles; c += 4) {
    const double* a[4];
    int n[4];
    for (int k = 0; k < 4; ++k) {
      a[k] = alpha + ring_at_[c + k];
      n[k] = space_.length(c + k);
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
      mass_[c + k] = m[k];
      top_[c + k] = x[k];
      total += m[k];
    }
  }
  for (; c < cycles; ++c) {
    const double* a = alpha + ring_at_[c];
    double m = 0.0, x = -1.0;
    for (int j = 0; j < space_.length(c); ++j) {
      m += a[j];
      x = a[j] > x ? a[j] : x;
    }
    mass_[c] = m;
    top_[c] = x;
    total += m;
  }
  return total;
}

// The flat index of the most probable state, the first of equals in
// StateSpace order: the first cycle holding the highest value, and its
// first position holding that value (equals are common while the evidence
// is still flat, and the beat rule reads the position).
int ForwardFilter::firstOfHighest() const {
  int cycle = 0;
  double top = -1.0;
  for (int c = 0; c < space_.cycles(); ++c)
    if (top_[c] > top) {
      top = top_[c];
      cycle = c;
    }
  const double* a = alpha_.data() + ring_at_[cycle];
  for (int p = 0; p < space_.length(cycle); ++p) {
    const int i = layout_.ringSlot(cycle, p);
    if (a[i] == top) return space_.offset(cycle) + i;
  }
  return space_.offset(cycle);  // not reached: top is one of the cycle's values
}

void ForwardFilter::normalise(double scale) {
  for (int c = 0; c < space_.cycles(); ++c) {
    const int n = space_.length(c);
    double* a = alpha_.data() + ring_at_[c];
    for (int i = 0; i < n; ++i) a[i] *= scale;
    for (int i = 0; i < kBlock; ++i) a[n + i] = a[i < n ? i : i % n];
  }
  for (double& m : mass_) m *= scale;
  if (space_.hasBars()) {
    std::fill(tempo_mass_.begin(), tempo_mass_.end(), 0.0);
    for (int c = 0; c < space_.cycles(); ++c) tempo_mass_[space_.tempo(c)] += mass_[c];
  }
}

// The posterior summed over all cycles by the number of frames d until the
// next beat, and the first d of the highest sum. Beat k of a cycle of
// length n lies at position k * i; position p, in ring slot (h + p) mod n,
// reaches it in (k * i - p) mod n frames, so d frames before it is ring
// slot (h + k * i - d) mod n. Each beat's d runs from 0 to i - 1, so that
// every position is counted once: kBlock values of d are slots read
// backwards, contiguous thanks to the copies after the ring. Each sum runs
// over the cycles in their order and their beats in order; a value of d
// beyond a cycle's interval is masked to add 0, which changes no sum of
// non-negative terms.
int ForwardFilter::framesToNextBeat() const {
  static_assert(kBlock == 8, "four pairs per block");
  const int tempi = space_.tempi();
  const int shortest = space_.tempoInterval(0), longest = space_.tempoInterval(tempi - 1);
  double* until = until_.data();
  for (int d0 = 0; d0 < longest; d0 += kBlock) {
    // Lanes hold d0 + 1 and d0, d0 + 3 and d0 + 2, and so on.
    Pair u0 = {0.0, 0.0}, u1 = u0, u2 = u0, u3 = u0;
    // The slots of d0 .. d0 + kBlock - 1 frames before the beat in ring
    // slot `beat` of cycle c end at `from`, read backwards.
    auto from = [&](int c, int beat) {
      const int n = space_.length(c);
      int s = beat - d0;
      s += s < 0 ? n : 0;
      s += s < kBlock - 1 ? n : 0;
      return alpha_.data() + ring_at_[c] + s;
    };
    // The ring slot of the beat after the one in slot `beat`.
    auto next = [&](int c, int beat) {
      beat += space_.interval(c);
      return beat < space_.length(c) ? beat : beat - space_.length(c);
    };
    // The first tempo longer than d0.
    const int longer = std::max(0, d0 + 1 - shortest);
    for (int m = 0; m < space_.metres(); ++m) {
      const int beats = space_.metreBeats(m), first = space_.cycle(m, 0);
      int t = longer;
      for (; t < tempi && space_.tempoInterval(t) < d0 + kBlock; ++t) {
        const long long v = space_.tempoInterval(t) - d0;  // lanes in the tempo's interval
        const PairBits mask0 = {-(1 < v), -(0 < v)}, mask1 = {-(3 < v), -(2 < v)};
        const PairBits mask2 = {-(5 < v), -(4 < v)}, mask3 = {-(7 < v), -(6 < v)};
        auto add = [&](const double* a) {
          u0 += Pair(PairBits(load(a - 1)) & mask0);
          u1 += Pair(PairBits(load(a - 3)) & mask1);
          u2 += Pair(PairBits(load(a - 5)) & mask2);
          u3 += Pair(PairBits(load(a - 7)) & mask3);
        };
        const int c = first + t;
        int beat = layout_.head(c);
        add(from(c, beat));
        for (int k = 1; k < beats; ++k) add(from(c, beat = next(c, beat)));
      }
      auto add = [&](const double* a) {
        u0 += load(a - 1);
        u1 += load(a - 3);
        u2 += load(a - 5);
        u3 += load(a - 7);
      };
      for (; t < tempi; ++t) {
        const int c = first + t;
        int beat = layout_.head(c);
        add(from(c, beat));
        for (int k = 1; k < beats; ++k) add(from(c, beat = next(c, beat)));
      }
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

// Each state votes with its probability for the beat of its bar nearest to
// it `ahead` frames from now: beat k takes the positions within half an
// interval of k * i then, a run of i positions from k * i - i / 2 - ahead
// now (states between two beats take the one under way before its
// predicted time, which is where the posterior puts its doubt).
int ForwardFilter::beatInBar(int ahead) const {
  std::array<double, kMaxBarBeats> votes{};
  for (int c = 0; c < space_.cycles(); ++c) {
    const int i = space_.interval(c), n = space_.length(c);
    const double* a = alpha_.data() + ring_at_[c];
    for (int k = 0; k < space_.beats(c); ++k) {
      int s = layout_.ringSlot(c, ((k * i - i / 2 - ahead) % n + n) % n);
      double sum = 0.0;
      for (int j = 0; j < i; ++j, s = s + 1 < n ? s + 1 : 0) sum += a[s];
      votes[std::size_t(k)] += sum;
    }
  }
  return int(std::max_element(votes.begin(), votes.end()) - votes.begin()) + 1;
}

}  // namespace bar_pointer
