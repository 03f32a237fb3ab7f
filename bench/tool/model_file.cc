#include "model_file.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace bar_pointer_bench {

ModelFile::ModelFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  // Lines "inline constexpr int kName = N;" and "inline constexpr float
  // kName[N] = { v, v, ... };" (read by hand: std::regex recurses per
  // character and overflows the stack on arrays this long).
  std::map<std::string, int> sizes;
  for (std::size_t at = s.find("constexpr "); at != std::string::npos; at = s.find("constexpr ", at + 1)) {
    std::istringstream decl(s.substr(at + 10, 64));
    std::string type, name;
    decl >> type >> name;
    if (type == "int") {
      char eq = 0;
      int value = 0;
      if (decl >> eq >> value) sizes[name] = value;
    } else if (type == "float") {
      name = name.substr(0, name.find('['));
      const std::size_t open = s.find('{', at), close = s.find('}', at);
      if (open == std::string::npos || close == std::string::npos) break;
      std::vector<float>& values = arrays_[name];
      std::istringstream body(s.substr(open + 1, close - open - 1));
      std::string item;
      while (std::getline(body, item, ','))
        if (item.find_first_not_of(" \n\t") != std::string::npos) values.push_back(std::stof(item));
    }
  }
  auto need = [&](const char* name) -> const float* {
    auto a = arrays_.find(name);
    if (a == arrays_.end()) throw std::runtime_error(path + " has no " + name);
    return a->second.data();
  };
  for (const char* k : {"kInputs", "kChannels", "kBlocks", "kKernel"})
    if (!sizes.count(k)) throw std::runtime_error(path + " has no " + k);
  const std::size_t n = std::size_t(sizes["kInputs"]), ch = std::size_t(sizes["kChannels"]),
                    blocks = std::size_t(sizes["kBlocks"]), kernel = std::size_t(sizes["kKernel"]);
  const std::map<std::string, std::size_t> lengths = {
      {"kInputMean", n},           {"kInputScale", n},
      {"kInputWeight", ch * n},   {"kInputBias", ch},
      {"kBlockWeight", blocks * ch * kernel * ch}, {"kBlockBias", blocks * ch},
      {"kOutputWeight", 3 * ch},   {"kOutputBias", 3}};
  for (const auto& [name, length] : lengths) {
    need(name.c_str());
    if (arrays_[name].size() != length)
      throw std::runtime_error(path + ": " + name + " has the wrong number of values");
  }
  weights_ = {sizes["kInputs"],     sizes["kChannels"],  sizes["kBlocks"],      sizes["kKernel"],
              need("kInputMean"),   need("kInputScale"), need("kInputWeight"),  need("kInputBias"),
              need("kBlockWeight"), need("kBlockBias"),  need("kOutputWeight"), need("kOutputBias")};
}

}  // namespace bar_pointer_bench
