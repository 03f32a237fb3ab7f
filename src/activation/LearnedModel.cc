#include "activation/InputFeature.h"
#include "activation/ModelWeights.h"
#include "activation/model/activation_model.inc"

namespace activation {

namespace m = model;

static_assert(m::kInputs == InputFeature::kValues, "the network reads the input feature");
static_assert(m::kOutputs == 3, "none, beat, downbeat");
static_assert(sizeof m::kInputWeight == sizeof(float) * m::kChannels * m::kInputs);
static_assert(sizeof m::kBlockWeight ==
              sizeof(float) * m::kBlocks * m::kChannels * m::kKernel * m::kChannels);
static_assert(sizeof m::kOutputWeight == sizeof(float) * 3 * m::kChannels);

ModelWeights learnedModel() {
  return {m::kInputs,     m::kChannels,   m::kBlocks,      m::kKernel,
          m::kInputMean,  m::kInputScale, m::kInputWeight, m::kInputBias,
          m::kBlockWeight, m::kBlockBias, m::kOutputWeight, m::kOutputBias};
}

}  // namespace activation
