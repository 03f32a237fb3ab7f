// An activation network's weights read from a generated include file at run
// time, so that trained candidates can be scored without rebuilding.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "activation/ModelWeights.h"

namespace bar_pointer_bench {

class ModelFile {
 public:
  // Throws std::runtime_error if the file lacks a size or an array.
  explicit ModelFile(const std::string& path);
  const activation::ModelWeights& weights() const { return weights_; }

 private:
  std::map<std::string, std::vector<float>> arrays_;
  activation::ModelWeights weights_;
};

}  // namespace bar_pointer_bench
