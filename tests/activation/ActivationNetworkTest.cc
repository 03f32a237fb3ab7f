#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "activation/ActivationNetwork.h"
#include "activation/InputFeature.h"
#include "activation/LearnedActivation.h"

// In a namespace of its own: the fixture's arrays have the names of the
// library's network, which this program links too.
namespace random_fixture {
#include "random_model.inc"
}

namespace {

using activation::ActivationNetwork;
using activation::BeatProbabilities;
using activation::ModelWeights;

ModelWeights randomModel() {
  namespace m = random_fixture::activation::model;
  return {m::kInputs,     m::kChannels,   m::kBlocks,      m::kKernel,
          m::kInputMean,  m::kInputScale, m::kInputWeight, m::kInputBias,
          m::kBlockWeight, m::kBlockBias, m::kOutputWeight, m::kOutputBias};
}

// model.py's export_reference: int32 frames, inputs; float32
// features[frames][inputs], probabilities[frames][3].
struct Reference {
  std::int32_t frames = 0, inputs = 0;
  std::vector<float> features, probabilities;
};

bool read(const std::string& path, Reference& r) {
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(&r.frames), 4) || !in.read(reinterpret_cast<char*>(&r.inputs), 4))
    return false;
  r.features.resize(std::size_t(r.frames) * std::size_t(r.inputs));
  r.probabilities.resize(std::size_t(r.frames) * 3);
  in.read(reinterpret_cast<char*>(r.features.data()), std::streamsize(r.features.size() * 4));
  in.read(reinterpret_cast<char*>(r.probabilities.data()), std::streamsize(r.probabilities.size() * 4));
  return bool(in);
}

// Feature-like values in [0, 4), the same on every run.
std::vector<float> features(std::size_t count) {
  std::vector<float> v(count);
  std::uint32_t s = 12345;
  for (float& x : v) {
    s = s * 1664525u + 1013904223u;
    x = float(s >> 8) * (4.0f / 16777216.0f);
  }
  return v;
}

void expectSame(const std::vector<BeatProbabilities>& a, const std::vector<BeatProbabilities>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t f = 0; f < a.size(); ++f) {
    EXPECT_EQ(a[f].beat, b[f].beat) << "frame " << f;
    EXPECT_EQ(a[f].downbeat, b[f].downbeat) << "frame " << f;
  }
}

struct Model {
  const char* name;
  ModelWeights (*weights)();
  const char* reference;
  bool reference_may_be_missing;  // the trained network's comes with it
};

void PrintTo(const Model& m, std::ostream* os) { *os << m.name; }

class Network : public testing::TestWithParam<Model> {};

TEST_P(Network, MatchesTheTrainingCodesReference) {
  Reference r;
  if (!read(std::string(ACTIVATION_TEST_DATA "/") + GetParam().reference, r)) {
    if (GetParam().reference_may_be_missing) GTEST_SKIP() << "no reference case " << GetParam().reference;
    FAIL() << "cannot read " << GetParam().reference;
  }
  ActivationNetwork net(GetParam().weights());
  ASSERT_EQ(r.inputs, net.inputs());
  for (std::size_t f = 0; f < std::size_t(r.frames); ++f) {
    const BeatProbabilities p = net.process(&r.features[f * std::size_t(r.inputs)], std::size_t(r.inputs));
    const float* want = &r.probabilities[f * 3];
    EXPECT_NEAR(1.0f - p.beat - p.downbeat, want[0], 1e-4) << "frame " << f;
    EXPECT_NEAR(p.beat, want[1], 1e-4) << "frame " << f;
    EXPECT_NEAR(p.downbeat, want[2], 1e-4) << "frame " << f;
  }
}

TEST_P(Network, ChunkingAndResetChangeNothing) {
  ActivationNetwork net(GetParam().weights());
  const std::size_t inputs = std::size_t(net.inputs()), frames = std::size_t(net.receptiveField()) + 40;
  const std::vector<float> x = features(frames * inputs);
  std::vector<BeatProbabilities> whole(frames), single(frames), chunked(frames);
  net.process(x.data(), x.size(), whole.data());
  net.reset();
  for (std::size_t f = 0; f < frames; ++f) single[f] = net.process(&x[f * inputs], inputs);
  net.reset();
  for (std::size_t f = 0; f < frames; f += 7) {
    const std::size_t n = std::min<std::size_t>(7, frames - f);
    net.process(&x[f * inputs], n * inputs, &chunked[f]);
  }
  expectSame(whole, single);
  expectSame(whole, chunked);
}

TEST_P(Network, RejectsInvalidInputChangingNothing) {
  ActivationNetwork net(GetParam().weights()), clean(GetParam().weights());
  const std::size_t inputs = std::size_t(net.inputs()), frames = 60;
  const std::vector<float> x = features(frames * inputs);
  std::vector<BeatProbabilities> want(frames), got(frames);
  clean.process(x.data(), x.size(), want.data());
  net.process(x.data(), 30 * inputs, got.data());

  std::vector<float> bad(x.begin() + 30 * inputs, x.begin() + 33 * inputs);
  EXPECT_THROW(net.process(bad.data(), inputs - 1), std::invalid_argument);
  EXPECT_THROW(net.process(bad.data(), inputs + 1), std::invalid_argument);
  EXPECT_THROW(net.process(bad.data(), 2 * inputs), std::invalid_argument);
  EXPECT_THROW(net.process(bad.data(), 3 * inputs - 1, &got[30]), std::invalid_argument);
  bad[3 * inputs - 1] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(net.process(bad.data(), 3 * inputs, &got[30]), std::invalid_argument);
  bad[0] = std::numeric_limits<float>::infinity();
  EXPECT_THROW(net.process(bad.data(), inputs), std::invalid_argument);
  EXPECT_EQ(got[30].beat, 0.0f);  // nothing written

  net.process(&x[30 * inputs], 30 * inputs, &got[30]);
  expectSame(want, got);

  ModelWeights missing = GetParam().weights(), deep = missing;
  missing.block_bias = nullptr;
  deep.blocks = 17;
  EXPECT_THROW(ActivationNetwork{missing}, std::invalid_argument);
  EXPECT_THROW(ActivationNetwork{deep}, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    Models, Network,
    testing::Values(Model{"Random", randomModel, "random_reference.bin", false},
                    Model{"Learned", activation::learnedModel, "reference.bin", true}),
    [](const testing::TestParamInfo<Model>& info) { return info.param.name; });

// The library's convenience is the feature then the shipped network, and
// rejects a bad spectrum before either moves on.
TEST(LearnedActivation, IsTheInputFeatureThenTheNetwork) {
  activation::LearnedActivation learned(44100.0, 2048);
  activation::InputFeature feature(44100.0, 2048);
  ActivationNetwork net(activation::learnedModel());
  const std::size_t bins = std::size_t(learned.bins()), frames = 40;
  std::vector<double> spectra(frames * bins);
  const std::vector<float> x = features(spectra.size());
  for (std::size_t i = 0; i < spectra.size(); ++i) spectra[i] = 50.0 * x[i] * x[i];
  std::vector<float> values(activation::InputFeature::kValues);
  std::vector<BeatProbabilities> want(frames), got(frames), again(frames);
  for (std::size_t f = 0; f < frames; ++f) {
    feature.process(&spectra[f * bins], bins, values.data());
    want[f] = net.process(values.data(), values.size());
    got[f] = learned.process(&spectra[f * bins], bins);
    std::vector<double> bad(spectra.begin() + std::ptrdiff_t(f * bins),
                            spectra.begin() + std::ptrdiff_t((f + 1) * bins));
    EXPECT_THROW(learned.process(bad.data(), bins - 1), std::invalid_argument);
    bad[f] = std::nan("");
    EXPECT_THROW(learned.process(bad.data(), bins), std::invalid_argument);
  }
  learned.reset();
  for (std::size_t f = 0; f < frames; ++f) again[f] = learned.process(&spectra[f * bins], bins);
  expectSame(want, got);
  expectSame(want, again);
}

}  // namespace
