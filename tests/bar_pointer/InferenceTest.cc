// The forward filter and the Viterbi decoder against a plain dense model of
// the same state space, small enough to write out state by state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bar_pointer/ForwardFilter.h"
#include "bar_pointer/StateSpace.h"
#include "bar_pointer/ViterbiDecoder.h"

namespace bar_pointer {
namespace {

// 10 frames per second, intervals 4, 5 and 6 frames: 15 states.
Settings tinySettings(double transition_lambda, double jump) {
  Settings s;
  s.sample_rate = 1000.0;
  s.window_size = 128;
  s.hop_size = 100;
  s.min_bpm = 100.0;
  s.max_bpm = 150.0;
  s.transition_lambda = transition_lambda;
  s.tempo_jump_probability = jump;
  s.announce_ahead = 0;
  return s;
}

struct DenseModel {
  std::vector<int> interval, position;
  std::vector<std::vector<double>> a;  // a[from][to]
  Settings s;

  explicit DenseModel(const Settings& settings) : s(settings) {
    const Intervals iv = intervalRange(s);
    for (int i = iv.shortest; i <= iv.longest; ++i)
      for (int p = 0; p < i; ++p) {
        interval.push_back(i);
        position.push_back(p);
      }
    const std::size_t n = interval.size();
    a.assign(n, std::vector<double>(n, 0.0));
    for (std::size_t f = 0; f < n; ++f) {
      if (position[f] + 1 < interval[f]) {
        a[f][f + 1] = 1.0;
        continue;
      }
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t)
        if (position[t] == 0) total += smooth(f, t);
      const double jump = s.tempo_jump_probability / (interval.back() - interval.front() + 1);
      for (std::size_t t = 0; t < n; ++t)
        if (position[t] == 0)
          a[f][t] = (1.0 - s.tempo_jump_probability) * smooth(f, t) / total + jump;
    }
  }
  double smooth(std::size_t from, std::size_t to) const {
    return std::exp(-s.transition_lambda * std::fabs(double(interval[to]) / interval[from] - 1.0));
  }
  double likelihood(std::size_t state, double o) const {
    o = std::min(std::max(o, s.min_onset), 1.0 - s.min_onset);
    return position[state] < s.beat_region ? o : (1.0 - o) / (s.observation_lambda - 1.0);
  }
  std::size_t find(int i, int p) const {
    for (std::size_t k = 0; k < interval.size(); ++k)
      if (interval[k] == i && position[k] == p) return k;
    return interval.size();
  }
};

std::vector<double> onsets(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> o(n);
  for (std::size_t t = 0; t < n; ++t) o[t] = t % 5 == 0 ? 0.6 + 0.4 * u(rng) : 0.3 * u(rng);
  return o;
}

// Smooth tempo changes only (lambda 5 keeps every change possible); smooth
// changes and jumps; jumps only (at lambda 200 even the smallest change, a
// sixth, is too unlikely to be kept as an arc).
const Settings kForwardModels[] = {tinySettings(5.0, 0.0), tinySettings(5.0, 0.1),
                                   tinySettings(200.0, 0.1)};

TEST(Inference, ForwardFilterEqualsTheDenseForwardAlgorithm) {
  for (const Settings& s : kForwardModels) {
    SCOPED_TRACE(testing::Message()
                 << "lambda " << s.transition_lambda << ", jump " << s.tempo_jump_probability);
    const DenseModel m(s);
    const StateSpace space(s);
    ForwardFilter filter(space, s.observation_lambda, s.min_onset, s.tempo_jump_probability);
    const std::size_t n = m.interval.size();
    std::vector<double> alpha(n, 1.0 / n);
    for (double o : onsets(40, 1)) {
      std::vector<double> next(n, 0.0);
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t) {
        for (std::size_t f = 0; f < n; ++f) next[t] += alpha[f] * m.a[f][t];
        next[t] *= m.likelihood(t, o);
        total += next[t];
      }
      for (double& x : next) x /= total;
      alpha = next;
      filter.step(o);
      for (std::size_t k = 0; k < n; ++k)
        ASSERT_NEAR(filter.probability(space.tempoOf(m.interval[k]), m.position[k]), alpha[k],
                    1e-12);
      // Jumps alone can leave states equally probable: any of them is best.
      const std::size_t best = m.find(space.interval(filter.best().tempo), filter.best().position);
      ASSERT_LT(best, n);
      EXPECT_NEAR(alpha[best], *std::max_element(alpha.begin(), alpha.end()), 1e-12);
    }
  }
}

TEST(Inference, ViterbiEqualsTheDenseViterbiPath) {
  for (unsigned seed : {2u, 3u, 4u}) {
    // The decoder has no jumps.
    const Settings s = tinySettings(5.0, 0.0);
    const DenseModel m(s);
    const std::vector<double> o = onsets(60, seed);
    const std::size_t n = m.interval.size();
    std::vector<double> score(n, 0.0);
    std::vector<std::vector<std::size_t>> from(o.size(), std::vector<std::size_t>(n));
    for (std::size_t t = 0; t < o.size(); ++t) {
      std::vector<double> next(n, -1e300);
      for (std::size_t to = 0; to < n; ++to) {
        for (std::size_t f = 0; f < n; ++f)
          if (m.a[f][to] > 0.0 && score[f] + std::log(m.a[f][to]) > next[to]) {
            next[to] = score[f] + std::log(m.a[f][to]);
            from[t][to] = f;
          }
        next[to] += std::log(m.likelihood(to, o[t]));
      }
      score = next;
    }
    std::size_t state = std::max_element(score.begin(), score.end()) - score.begin();
    std::vector<int64_t> expected;
    for (std::size_t t = o.size(); t-- > 0;) {
      if (m.position[state] == 0) expected.insert(expected.begin(), int64_t(t));
      state = from[t][state];
    }

    ViterbiDecoder decoder(s);
    for (double x : o) decoder.push(x);
    decoder.finish();
    std::vector<int64_t> got;
    for (const DecodedBeat& b : decoder.takeBeats()) got.push_back(b.frame);
    EXPECT_EQ(got, expected) << "seed " << seed;
  }
}

TEST(Inference, SegmentedDecodingKeepsMemoryFlatAndTheBeats) {
  Settings s;  // 100 frames per second
  s.offline_segment_seconds = 20.0;
  s.offline_lookahead_seconds = 5.0;
  Settings whole = s;
  whole.offline_segment_seconds = 1000.0;
  ViterbiDecoder segmented(s), reference(whole);
  std::size_t most = 0;
  std::vector<int64_t> a, b;
  for (int t = 0; t < 20000; ++t) {  // 200 s of three-frame onsets every 0.55 s
    const double o = (t + 1) % 55 <= 2 ? 0.9 : 0.02;
    segmented.push(o);
    reference.push(o);
    most = std::max(most, segmented.pendingBytes());
    for (const DecodedBeat& d : segmented.takeBeats()) a.push_back(d.frame);
  }
  segmented.finish();
  reference.finish();
  for (const DecodedBeat& d : segmented.takeBeats()) a.push_back(d.frame);
  for (const DecodedBeat& d : reference.takeBeats()) b.push_back(d.frame);
  EXPECT_EQ(a, b);
  ASSERT_GT(a.size(), 360u);
  for (std::size_t i = 1; i < a.size(); ++i) EXPECT_EQ(a[i] - a[i - 1], 55) << a[i];
  // Back-pointers of at most one segment: 2000 frames of 2 bytes per tempo, and their confidences.
  EXPECT_LT(most, std::size_t(2100 * (2 * StateSpace(s).tempi() + 4)));
}

}  // namespace
}  // namespace bar_pointer
