#include "bar_pointer/ForwardFilter.h"

#include <cmath>

namespace bar_pointer {

ForwardFilter::ForwardFilter(const StateSpace& space, double observation_lambda,
                             double min_onset)
    : space_(space),
      layout_(space),
      observation_lambda_(observation_lambda),
      min_onset_(min_onset),
      alpha_(space.states()),
      wrap_(space.tempi()) {
  restart();
}

void ForwardFilter::restart() {
  for (double& a : alpha_) a = 1.0 / space_.states();
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
  for (int t = 0; t < tempi; ++t)
    for (int p = 0; p < space_.beatRegion(); ++p) alpha_[layout_.slot(t, p)] *= ratio;

  double total = 0.0, top = -1.0;
  int at = 0;
  const int n = space_.states();
  for (int i = 0; i < n; ++i) {
    total += alpha_[i];
    if (alpha_[i] > top) {
      top = alpha_[i];
      at = i;
    }
  }
  if (!(total > 0.0) || !std::isfinite(total)) {
    restart();
    return;
  }
  const double scale = 1.0 / total;
  for (int i = 0; i < n; ++i) alpha_[i] *= scale;
  layout_.stateOf(at, best_.tempo, best_.position);
}

double ForwardFilter::beatProbability(int ahead, int tolerance) const {
  double sum = 0.0;
  for (int t = 0; t < space_.tempi(); ++t) {
    const int n = space_.interval(t);
    if (2 * tolerance + 1 >= n) {
      for (int p = 0; p < n; ++p) sum += alpha_[layout_.slot(t, p)];
      continue;
    }
    // A state at position p has beats p frames ago and every n frames on.
    for (int e = -tolerance; e <= tolerance; ++e) {
      const int p = (((e - ahead) % n) + n) % n;
      sum += alpha_[layout_.slot(t, p)];
    }
  }
  return sum;
}

int ForwardFilter::framesToNextBeat() const {
  const int tempi = space_.tempi();
  until_.assign(space_.interval(tempi - 1), 0.0);
  for (int t = 0; t < tempi; ++t) {
    const int n = space_.interval(t);
    // Position p reaches the beat in (n - p) % n frames.
    until_[0] += alpha_[layout_.slot(t, 0)];
    for (int p = 1; p < n; ++p) until_[n - p] += alpha_[layout_.slot(t, p)];
  }
  int best = 0;
  for (int d = 1; d < int(until_.size()); ++d)
    if (until_[d] > until_[best]) best = d;
  return best;
}

std::vector<double> ForwardFilter::tempoPosterior() const {
  std::vector<double> mass(space_.tempi(), 0.0);
  for (int t = 0; t < space_.tempi(); ++t)
    for (int i = 0; i < space_.interval(t); ++i) mass[t] += alpha_[space_.offset(t) + i];
  return mass;
}

}  // namespace bar_pointer
