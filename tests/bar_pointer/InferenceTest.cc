// The forward filter and the Viterbi decoder against a plain dense model of
// the same state space, small enough to write out state by state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "bar_pointer/ForwardFilter.h"
#include "bar_pointer/StateSpace.h"
#include "bar_pointer/ViterbiDecoder.h"

namespace bar_pointer {
namespace {

struct Activation {
  double beat, downbeat;
};

// 10 frames per second, intervals 4, 5 and 6 frames: 15 states; with bars
// of 2 and 3 beats, 75.
Settings tinySettings(double transition_lambda, double jump, std::vector<int> bars = {}) {
  Settings s;
  s.sample_rate = 1000.0;
  s.window_size = 128;
  s.hop_size = 100;
  s.min_bpm = 100.0;
  s.max_bpm = 150.0;
  s.transition_lambda = transition_lambda;
  s.tempo_jump_probability = jump;
  s.announce_ahead = 0;
  s.activation = Settings::Activation::kLearned;
  s.bar_lengths = bars;
  s.metre_change_probability = 0.1;
  return s;
}

struct DenseModel {
  Settings s;
  std::vector<int> beats;  // per metre
  std::vector<int> metre, interval, position;
  std::vector<std::vector<double>> a;  // a[from][to]

  explicit DenseModel(const Settings& settings) : s(settings), beats(settings.bar_lengths) {
    std::sort(beats.begin(), beats.end());
    if (beats.empty()) beats.push_back(1);
    const Intervals iv = intervalRange(s);
    for (std::size_t m = 0; m < beats.size(); ++m)
      for (int i = iv.shortest; i <= iv.longest; ++i)
        for (int p = 0; p < beats[m] * i; ++p) {
          metre.push_back(int(m));
          interval.push_back(i);
          position.push_back(p);
        }
    const std::size_t n = interval.size();
    const double cycles = double(beats.size()) * (iv.longest - iv.shortest + 1);
    a.assign(n, std::vector<double>(n, 0.0));
    for (std::size_t f = 0; f < n; ++f) {
      if (position[f] + 1 < beats[metre[f]] * interval[f]) {
        a[f][f + 1] = 1.0;
        continue;
      }
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t)
        if (position[t] == 0 && metre[t] == 0) total += smooth(f, t);
      for (std::size_t t = 0; t < n; ++t) {
        if (position[t] != 0) continue;
        const double change = s.metre_change_probability;
        const double keep = beats.size() == 1 ? 1.0
                            : metre[t] == metre[f] ? 1.0 - change
                                                   : change / double(beats.size() - 1);
        a[f][t] = (1.0 - s.tempo_jump_probability) * keep * smooth(f, t) / total +
                  s.tempo_jump_probability / cycles;
      }
    }
  }
  double smooth(std::size_t from, std::size_t to) const {
    return std::exp(-s.transition_lambda * std::fabs(double(interval[to]) / interval[from] - 1.0));
  }
  double likelihood(std::size_t state, const Activation& x) const {
    auto kept = [&](double v) { return std::min(std::max(v, s.min_onset), 1.0 - s.min_onset); };
    const int p = position[state], i = interval[state];
    if (s.bar_lengths.empty()) {
      const double o = kept(x.beat + x.downbeat);
      return p < s.beat_region ? o : (1.0 - o) / (s.observation_lambda - 1.0);
    }
    if (p % i >= s.beat_region) return kept(1.0 - x.beat - x.downbeat) / (s.observation_lambda - 1.0);
    return p < i ? kept(x.downbeat) : kept(x.beat);
  }
  std::size_t find(int m, int i, int p) const {
    for (std::size_t k = 0; k < interval.size(); ++k)
      if (metre[k] == m && interval[k] == i && position[k] == p) return k;
    return interval.size();
  }
};

// A downbeat every 10 frames and a beat halfway, weaker activations between.
std::vector<Activation> activations(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Activation> x(n);
  for (std::size_t t = 0; t < n; ++t) {
    const double strong = 0.5 + 0.4 * u(rng), weak = 0.1 * u(rng);
    x[t] = t % 10 == 0 ? Activation{weak, strong}
           : t % 5 == 0 ? Activation{strong, weak}
                        : Activation{0.2 * u(rng), weak};
  }
  return x;
}

// Smooth tempo changes only (lambda 5 keeps every change possible); smooth
// changes and jumps; jumps only (at lambda 200 even the smallest change, a
// sixth, is too unlikely to be kept as an arc); bars of 2 and 3 beats with
// all of these.
const Settings kForwardModels[] = {tinySettings(5.0, 0.0), tinySettings(5.0, 0.1),
                                   tinySettings(200.0, 0.1), tinySettings(5.0, 0.1, {3, 2}),
                                   tinySettings(200.0, 0.0, {2, 3})};

TEST(Inference, ForwardFilterEqualsTheDenseForwardAlgorithm) {
  for (const Settings& s : kForwardModels) {
    SCOPED_TRACE(testing::Message() << "lambda " << s.transition_lambda << ", jump "
                                    << s.tempo_jump_probability << ", bars "
                                    << s.bar_lengths.size());
    const DenseModel m(s);
    const StateSpace space(s);
    ForwardFilter filter(space, s.observation_lambda, s.min_onset, s.tempo_jump_probability);
    const std::size_t n = m.interval.size();
    ASSERT_EQ(int(n), space.states());
    std::vector<double> alpha(n, 1.0 / n);
    for (const Activation& x : activations(40, 1)) {
      std::vector<double> next(n, 0.0);
      double total = 0.0;
      for (std::size_t t = 0; t < n; ++t) {
        for (std::size_t f = 0; f < n; ++f) next[t] += alpha[f] * m.a[f][t];
        next[t] *= m.likelihood(t, x);
        total += next[t];
      }
      for (double& v : next) v /= total;
      alpha = next;
      filter.step(x.beat, x.downbeat);
      std::vector<double> tempo(std::size_t(space.tempi()), 0.0), until(8, 0.0), nearest(3, 0.0);
      for (std::size_t k = 0; k < n; ++k) {
        const int i = m.interval[k], p = m.position[k];
        ASSERT_NEAR(filter.probability(space.cycle(m.metre[k], space.tempoOf(i)), p), alpha[k],
                    1e-12);
        tempo[std::size_t(space.tempoOf(i))] += alpha[k];
        until[std::size_t((i - p % i) % i)] += alpha[k];
        nearest[std::size_t((p + i / 2) / i % m.beats[m.metre[k]])] += alpha[k];
      }
      for (int t = 0; t < space.tempi(); ++t)
        EXPECT_NEAR(filter.tempoPosterior()[std::size_t(t)], tempo[std::size_t(t)], 1e-12);
      // Jumps alone can leave states equally probable: any of them is best;
      // likewise the next beat and the beat of the bar.
      const ForwardFilter::State b = filter.best();
      const std::size_t best = m.find(space.metreOf(b.cycle), space.interval(b.cycle), b.position);
      ASSERT_LT(best, n);
      EXPECT_NEAR(alpha[best], *std::max_element(alpha.begin(), alpha.end()), 1e-12);
      EXPECT_NEAR(until[std::size_t(filter.framesToNextBeat())],
                  *std::max_element(until.begin(), until.end()), 1e-12);
      const int beat = filter.beatInBar(0);
      ASSERT_GE(beat, 1);
      if (!s.bar_lengths.empty()) {
        EXPECT_NEAR(nearest[std::size_t(beat - 1)], *std::max_element(nearest.begin(), nearest.end()),
                    1e-12);
      }
    }
  }
}

TEST(Inference, ViterbiEqualsTheDenseViterbiPath) {
  for (unsigned seed : {2u, 3u, 4u})
    for (const std::vector<int>& bars : {std::vector<int>{}, std::vector<int>{2, 3}}) {
      // The decoder has no jumps.
      const Settings s = tinySettings(5.0, 0.0, bars);
      const DenseModel m(s);
      const std::vector<Activation> x = activations(60, seed);
      const std::size_t n = m.interval.size();
      std::vector<double> score(n, 0.0);
      std::vector<std::vector<std::size_t>> from(x.size(), std::vector<std::size_t>(n));
      for (std::size_t t = 0; t < x.size(); ++t) {
        std::vector<double> next(n, -1e300);
        for (std::size_t to = 0; to < n; ++to) {
          for (std::size_t f = 0; f < n; ++f)
            if (m.a[f][to] > 0.0 && score[f] + std::log(m.a[f][to]) > next[to]) {
              next[to] = score[f] + std::log(m.a[f][to]);
              from[t][to] = f;
            }
          next[to] += std::log(m.likelihood(to, x[t]));
        }
        score = next;
      }
      // Beats and, with bars, their numbers in the bar.
      std::size_t state = std::max_element(score.begin(), score.end()) - score.begin();
      std::vector<std::pair<int64_t, int>> expected;
      for (std::size_t t = x.size(); t-- > 0;) {
        const int i = m.interval[state], p = m.position[state];
        if (p % i == 0) expected.insert(expected.begin(), {int64_t(t), bars.empty() ? 0 : p / i + 1});
        state = from[t][state];
      }

      ViterbiDecoder decoder(s);
      for (const Activation& a : x) decoder.pushActivations(a.beat, a.downbeat);
      decoder.finish();
      std::vector<std::pair<int64_t, int>> got;
      for (const DecodedBeat& b : decoder.takeBeats()) got.push_back({b.frame, b.beat_in_bar});
      EXPECT_EQ(got, expected) << "seed " << seed << ", bars " << bars.size();
    }
}

TEST(Inference, SegmentedDecodingKeepsMemoryFlatAndTheBeats) {
  for (const std::vector<int>& bars : {std::vector<int>{}, std::vector<int>{2, 3, 4}}) {
    Settings s;  // 100 frames per second
    s.offline_segment_seconds = 20.0;
    s.offline_lookahead_seconds = 5.0;
    s.activation = Settings::Activation::kLearned;
    s.bar_lengths = bars;
    Settings whole = s;
    whole.offline_segment_seconds = 1000.0;
    ViterbiDecoder segmented(s), reference(whole);
    std::size_t most = 0;
    std::vector<std::pair<int64_t, int>> a, b;
    for (int t = 0; t < 20000; ++t) {  // 200 s of three-frame beats every 0.55 s, in 4/4
      const bool beat = (t + 1) % 55 <= 2, downbeat = beat && (t + 1) / 55 % 4 == 0;
      const double x = beat && !downbeat ? 0.89 : 0.01, y = downbeat ? 0.89 : 0.01;
      segmented.pushActivations(x, y);
      reference.pushActivations(x, y);
      most = std::max(most, segmented.pendingBytes());
      for (const DecodedBeat& d : segmented.takeBeats()) a.push_back({d.frame, d.beat_in_bar});
    }
    segmented.finish();
    reference.finish();
    for (const DecodedBeat& d : segmented.takeBeats()) a.push_back({d.frame, d.beat_in_bar});
    for (const DecodedBeat& d : reference.takeBeats()) b.push_back({d.frame, d.beat_in_bar});
    EXPECT_EQ(a, b);
    ASSERT_GT(a.size(), 360u);
    for (std::size_t i = 1; i < a.size(); ++i) {
      EXPECT_EQ(a[i].first - a[i - 1].first, 55) << a[i].first;
      EXPECT_EQ(a[i].second, bars.empty() ? 0 : (a[i].first + 1) / 55 % 4 + 1) << a[i].first;
    }
    // Back-pointers of at most one segment: 2000 frames of 2 bytes per
    // cycle, and their confidences.
    EXPECT_LT(most, std::size_t(2100 * (2 * StateSpace(s).cycles() + 4)));
  }
}

}  // namespace
}  // namespace bar_pointer
