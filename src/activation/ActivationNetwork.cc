#include "activation/ActivationNetwork.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace activation {

namespace {

float elu(float x) { return x > 0.0f ? x : std::expm1(x); }

// out[o] = bias[o] + sum_j w[o][j] x[j] for a layer packed by `packTiles`:
// each tile's lanes are independent sums, so the lane loop vectorises
// without reordering any sum.
template <std::size_t Lanes>
void affine(const float* tiles, const float* bias, const float* x, std::size_t n,
            std::size_t width, float* out) {
  for (std::size_t t = 0; t < width; t += Lanes) {
    const float* w = tiles + t * n;
    float sum[Lanes];
    for (std::size_t l = 0; l < Lanes; ++l) sum[l] = bias[t + l];
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t l = 0; l < Lanes; ++l) sum[l] += w[j * Lanes + l] * x[j];
    for (std::size_t l = 0; l < Lanes; ++l) out[t + l] = sum[l];
  }
}

// Appends w [rows][n] as tiles [width / lanes][n][lanes], zeros past `rows`.
void packTiles(const float* w, std::size_t rows, std::size_t n, std::size_t width,
               std::size_t lanes, std::vector<float>& to) {
  for (std::size_t t = 0; t < width; t += lanes)
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t l = 0; l < lanes; ++l)
        to.push_back(t + l < rows ? w[(t + l) * n + j] : 0.0f);
}

void padded(const float* values, std::size_t count, std::size_t width, std::vector<float>& to) {
  to.insert(to.end(), values, values + count);
  to.insert(to.end(), width - count, 0.0f);
}

}  // namespace

ActivationNetwork::ActivationNetwork(const ModelWeights& m) {
  if (m.inputs < 1 || m.channels < 1 || m.kernel < 1 || m.blocks < 0 || m.blocks > 16)
    throw std::invalid_argument("activation: network sizes out of range");
  if (!m.input_mean || !m.input_scale || !m.input_weight || !m.input_bias || !m.output_weight ||
      !m.output_bias || (m.blocks > 0 && (!m.block_weight || !m.block_bias)))
    throw std::invalid_argument("activation: a weight array is missing");
  inputs_ = std::size_t(m.inputs);
  channels_ = std::size_t(m.channels);
  blocks_ = std::size_t(m.blocks);
  kernel_ = std::size_t(m.kernel);
  width_ = (channels_ + kLanes - 1) / kLanes * kLanes;

  input_mean_.assign(m.input_mean, m.input_mean + inputs_);
  input_scale_.assign(m.input_scale, m.input_scale + inputs_);
  packTiles(m.input_weight, channels_, inputs_, width_, kLanes, input_weight_);
  padded(m.input_bias, channels_, width_, input_bias_);
  const std::size_t taps = kernel_ * channels_;
  std::size_t rows = 0;
  for (std::size_t b = 0; b < blocks_; ++b) {
    packTiles(m.block_weight + b * channels_ * taps, channels_, taps, width_, kLanes, block_weight_);
    padded(m.block_bias + b * channels_, channels_, width_, block_bias_);
    const std::size_t dilation = std::size_t(1) << b;
    histories_.push_back({rows * channels_, (kernel_ - 1) * dilation + 1, dilation, 0});
    rows += histories_.back().rows;
  }
  output_weight_.assign(m.output_weight, m.output_weight + 3 * channels_);
  output_bias_.assign(m.output_bias, m.output_bias + 3);

  history_.assign(rows * channels_, 0.0f);
  normalised_.assign(inputs_, 0.0f);
  hidden_.assign(channels_, 0.0f);
  taps_.assign(taps, 0.0f);
  sums_.assign(width_, 0.0f);
}

int ActivationNetwork::receptiveField() const {
  return int((kernel_ - 1) * ((std::size_t(1) << blocks_) - 1) + 1);
}

void ActivationNetwork::reset() {
  std::fill(history_.begin(), history_.end(), 0.0f);
  for (History& h : histories_) h.newest = 0;
}

void ActivationNetwork::check(const float* features, std::size_t count) const {
  if (count % inputs_ != 0)
    throw std::invalid_argument("activation: features of the wrong size");
  for (std::size_t i = 0; i < count; ++i)
    if (!std::isfinite(features[i]))
      throw std::invalid_argument("activation: a feature value that is not finite");
}

BeatProbabilities ActivationNetwork::process(const float* features, std::size_t count) {
  if (count != inputs_) throw std::invalid_argument("activation: features of the wrong size");
  check(features, count);
  return step(features);
}

void ActivationNetwork::process(const float* features, std::size_t count, BeatProbabilities* out) {
  check(features, count);
  for (std::size_t f = 0; f < count / inputs_; ++f) out[f] = step(features + f * inputs_);
}

BeatProbabilities ActivationNetwork::step(const float* x) {
  for (std::size_t i = 0; i < inputs_; ++i)
    normalised_[i] = (x[i] - input_mean_[i]) * input_scale_[i];
  affine<kLanes>(input_weight_.data(), input_bias_.data(), normalised_.data(), inputs_, width_,
                 sums_.data());
  for (std::size_t o = 0; o < channels_; ++o) hidden_[o] = elu(sums_[o]);

  const std::size_t n = kernel_ * channels_;
  for (std::size_t b = 0; b < blocks_; ++b) {
    History& h = histories_[b];
    float* ring = history_.data() + h.offset;
    h.newest = h.newest + 1 == h.rows ? 0 : h.newest + 1;
    std::copy_n(hidden_.data(), channels_, ring + h.newest * channels_);
    for (std::size_t k = 0; k < kernel_; ++k) {
      const std::size_t lag = (kernel_ - 1 - k) * h.dilation;
      const std::size_t row = h.newest >= lag ? h.newest - lag : h.newest + h.rows - lag;
      std::copy_n(ring + row * channels_, channels_, taps_.data() + k * channels_);
    }
    affine<kLanes>(block_weight_.data() + b * width_ * n, block_bias_.data() + b * width_,
                   taps_.data(), n, width_, sums_.data());
    for (std::size_t o = 0; o < channels_; ++o) hidden_[o] += elu(sums_[o]);
  }

  float logits[3];
  for (std::size_t c = 0; c < 3; ++c) {
    float sum = output_bias_[c];
    for (std::size_t o = 0; o < channels_; ++o) sum += output_weight_[c * channels_ + o] * hidden_[o];
    logits[c] = sum;
  }
  const float top = std::max({logits[0], logits[1], logits[2]});
  float e[3];
  for (std::size_t c = 0; c < 3; ++c) e[c] = std::exp(logits[c] - top);
  const float total = e[0] + e[1] + e[2];
  return {e[1] / total, e[2] / total};
}

}  // namespace activation
