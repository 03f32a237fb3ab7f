// The numbers of an activation network, in the layout model.py's export_cpp
// writes them (float32, row-major). A view: the arrays belong to whoever
// made it (the generated include files hold them for the program's life).
#pragma once

namespace activation {

struct ModelWeights {
  int inputs = 0;
  int channels = 0;
  int blocks = 0;  // block b looks back with dilation 2^b
  int kernel = 0;
  const float* input_mean = nullptr;     // [inputs]
  const float* input_scale = nullptr;    // [inputs]
  const float* input_weight = nullptr;   // [channels][inputs]
  const float* input_bias = nullptr;     // [channels]
  const float* block_weight = nullptr;   // [blocks][channels out][kernel tap, oldest first][channels in]
  const float* block_bias = nullptr;     // [blocks][channels]
  const float* output_weight = nullptr;  // [3][channels]: none, beat, downbeat
  const float* output_bias = nullptr;    // [3]
};

// The network the library runs: src/activation/model/activation_model.inc.
ModelWeights learnedModel();

}  // namespace activation
