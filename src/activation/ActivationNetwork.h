// The beat and downbeat activation network (training/activation/model.py),
// run frame by frame: a causal convolutional network that sees
// receptiveField() frames back and none ahead.
//
// Each block keeps the last (kernel - 1) * dilation + 1 frames of its input
// in a ring, zeros before the first frame as the training's causal padding.
// Processing a frame allocates nothing; the result depends only on the
// frames since construction or reset().
#pragma once

#include <cstddef>
#include <vector>

#include "activation/ModelWeights.h"

namespace activation {

// Softmax probabilities of a frame holding a beat that is not a downbeat,
// and a downbeat (the rest is "neither").
struct BeatProbabilities {
  float beat = 0.0f;
  float downbeat = 0.0f;
};

class ActivationNetwork {
 public:
  // Copies the weights. Throws std::invalid_argument for sizes out of range
  // (blocks 0 to 16, everything else 1 or more) or a missing array.
  explicit ActivationNetwork(const ModelWeights& model);

  int inputs() const { return inputs_; }
  int receptiveField() const;

  // One frame: `count` (= inputs()) finite feature values.
  BeatProbabilities process(const float* features, std::size_t count);
  // count / inputs() frames one after the other, one result each into `out`.
  void process(const float* features, std::size_t count, BeatProbabilities* out);
  // Both throw std::invalid_argument, having changed nothing, for a count
  // that is not a (multiple of) inputs() or a value that is not finite.

  void reset();

 private:
  // Lanes an output tile holds: the weights are stored tile by tile so that
  // the inner loops run over a fixed number of contiguous outputs.
  static constexpr std::size_t kLanes = 8;

  struct History {
    std::size_t offset;    // of its first row in history_
    std::size_t rows;      // (kernel - 1) * dilation + 1
    std::size_t dilation;
    std::size_t newest;    // row of the current frame
  };

  void check(const float* features, std::size_t count) const;
  BeatProbabilities step(const float* features);

  std::size_t inputs_, channels_, blocks_, kernel_;
  std::size_t width_;  // channels rounded up to whole tiles
  std::vector<float> input_mean_, input_scale_;
  std::vector<float> input_weight_, input_bias_;  // tiles [width / kLanes][inputs][kLanes]; [width]
  std::vector<float> block_weight_, block_bias_;  // per block tiles [..][kernel * channels][kLanes]; [width]
  std::vector<float> output_weight_, output_bias_;  // [3][channels]; [3]
  std::vector<History> histories_;
  std::vector<float> history_;  // every block's rows of `channels` inputs
  // Per frame: the normalised input, the hidden state, one block's taps
  // (oldest first) and a layer's sums.
  std::vector<float> normalised_, hidden_, taps_, sums_;
};

}  // namespace activation
