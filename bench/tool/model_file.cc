#include "model_file.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace bar_pointer_bench {

ModelFile::ModelFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  std::map<std::string, int> sizes;
  const std::regex size(R"(constexpr int (k\w+) = (\d+);)");
  for (auto it = std::sregex_iterator(s.begin(), s.end(), size); it != std::sregex_iterator(); ++it)
    sizes[(*it)[1]] = std::stoi((*it)[2]);
  const std::regex array(R"(constexpr float (k\w+)\[\d+\] = \{([^}]*)\})");
  for (auto it = std::sregex_iterator(s.begin(), s.end(), array); it != std::sregex_iterator(); ++it) {
    std::vector<float>& values = arrays_[(*it)[1]];
    std::istringstream body((*it)[2].str());
    std::string item;
    while (std::getline(body, item, ','))
      if (item.find_first_not_of(" \n\t") != std::string::npos) values.push_back(std::stof(item));
  }
  auto need = [&](const char* name) -> const float* {
    auto a = arrays_.find(name);
    if (a == arrays_.end()) throw std::runtime_error(path + " has no " + name);
    return a->second.data();
  };
  for (const char* k : {"kInputs", "kChannels", "kBlocks", "kKernel"})
    if (!sizes.count(k)) throw std::runtime_error(path + " has no " + k);
  weights_ = {sizes["kInputs"],     sizes["kChannels"],  sizes["kBlocks"],      sizes["kKernel"],
              need("kInputMean"),   need("kInputScale"), need("kInputWeight"),  need("kInputBias"),
              need("kBlockWeight"), need("kBlockBias"),  need("kOutputWeight"), need("kOutputBias")};
}

}  // namespace bar_pointer_bench
