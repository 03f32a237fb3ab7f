#include "bar_pointer/ForwardFilter.h"

#include <algorithm>
#include <cmath>

namespace bar_pointer {

ForwardFilter::ForwardFilter(const StateSpace& space, double observation_lambda,
                             double min_onset)
    : space_(space),
      layout_(space),
      observation_lambda_(observation_lambda),
      min_onset_(min_onset),
      alpha_(space.states()),
      wrap_(space.tempi()),
      mass_(space.tempi()) {
  restart();
}

void ForwardFilter::restart() {
  for (double& a : alpha_) a = 1.0 / space_.states();
  for (int t = 0; t < space_.tempi(); ++t) mass_[t] = double(space_.interval(t)) / space_.states();
  best_ = {};
}

void ForwardFilter::step(double o) {
  const int tempi = space_.tempi();
  // Mass leaving each tempo's last position, redistributed over tempi.
  for (int t = 0; t < tempi; ++t) wrap_[t] = alpha_[layout_.slot(t, space_.interval(t) - 1)];
  layout_.advance();
  for (int to = 0; to < tempi; ++to) {
    double sum = 0.0;
    for (const StateSpace::Arc& a : space_.arcsInto(to)) sum += wrap_[a.from] * a.p;
    alpha_[layout_.slot(to, 0)] = sum;
  }
  // Weigh: beat states by the likelihood ratio, the rest by 1 (a common
  // factor that the normalisation removes).
  const double ratio = beatLikelihoodRatio(o, observation_lambda_, min_onset_);
  double expected = 0.0;  // predicted probability of a beat state
  for (int t = 0; t < tempi; ++t)
    for (int p = 0; p < space_.beatRegion(); ++p) {
      double& a = alpha_[layout_.slot(t, p)];
      expected += a;
      a *= ratio;
    }
  const double chance =
      std::min(1.0, double(space_.beatRegion()) / space_.interval(best_.tempo));
  gain_ = std::log((expected * ratio + (1.0 - expected)) / (chance * ratio + (1.0 - chance)));

  double total = 0.0, top = -1.0;
  int at = 0;
  for (int t = 0; t < tempi; ++t) {
    const int begin = space_.offset(t), end = begin + space_.interval(t);
    double mass = 0.0;
    for (int i = begin; i < end; ++i) {
      mass += alpha_[i];
      if (alpha_[i] > top) {
        top = alpha_[i];
        at = i;
      }
    }
    mass_[t] = mass;
    total += mass;
  }
  if (!(total > 0.0) || !std::isfinite(total)) {
    restart();
    return;
  }
  const double scale = 1.0 / total;
  for (double& a : alpha_) a *= scale;
  for (double& m : mass_) m *= scale;
  layout_.stateOf(at, best_.tempo, best_.position);
}

int ForwardFilter::framesToNextBeat() const {
  const int tempi = space_.tempi();
  until_.assign(space_.interval(tempi - 1), 0.0);
  for (int t = 0; t < tempi; ++t) {
    const int n = space_.interval(t);
    // Position p reaches the beat in (n - p) mod n frames.
    until_[0] += alpha_[layout_.slot(t, 0)];
    for (int p = 1; p < n; ++p) until_[n - p] += alpha_[layout_.slot(t, p)];
  }
  int best = 0;
  for (int d = 1; d < int(until_.size()); ++d)
    if (until_[d] > until_[best]) best = d;
  return best;
}

}  // namespace bar_pointer
