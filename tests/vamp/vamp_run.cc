// A minimal Vamp host for the plug-in's tests: what vamp-simple-host does
// (one output of one plug-in on a file, lines " TIME: VALUES LABEL"), with
// the block size, step size and parameters a host such as Sonic Visualiser
// may choose. The file is held whole; blocks past its end are zero-padded.
// Usage: vamp_run [-b BLOCK] [-s STEP] [-p ID=VALUE]... LIBRARY:PLUGIN:OUTPUT FILE
#include <sndfile.h>
#include <vamp-hostsdk/PluginLoader.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using Vamp::HostExt::PluginLoader;

int main(int argc, char** argv) {
  size_t block = 0, step = 0;
  std::vector<std::pair<std::string, float>> parameters;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    if (flag == "-b") block = std::stoul(value);
    else if (flag == "-s") step = std::stoul(value);
    else if (flag == "-p" && value.find('=') != std::string::npos)
      parameters.emplace_back(value.substr(0, value.find('=')),
                              std::stof(value.substr(value.find('=') + 1)));
    else return 2;
  }
  if (argc - i != 2) return 2;
  const std::string id = argv[i];
  const size_t colon = id.rfind(':');
  SF_INFO info{};
  SNDFILE* file = sf_open(argv[i + 1], SFM_READ, &info);
  if (!file || colon == std::string::npos) return 2;
  std::vector<float> samples(size_t(info.frames) * size_t(info.channels));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);

  PluginLoader* loader = PluginLoader::getInstance();
  std::unique_ptr<Vamp::Plugin> plugin(
      loader->loadPlugin(id.substr(0, colon), float(info.samplerate), 0));
  if (!plugin) return 3;
  for (const auto& p : parameters) plugin->setParameter(p.first, p.second);
  if (block == 0) block = plugin->getPreferredBlockSize();
  if (step == 0) step = block;
  const size_t channels = size_t(info.channels);
  if (!plugin->initialise(channels, step, block)) return 4;
  int output = -1;
  const Vamp::Plugin::OutputList outputs = plugin->getOutputDescriptors();
  for (size_t o = 0; o < outputs.size(); ++o)
    if (outputs[o].identifier == id.substr(colon + 1)) output = int(o);
  if (output < 0) return 3;

  auto print = [&](const Vamp::Plugin::FeatureSet& set) {
    auto found = set.find(output);
    if (found == set.end()) return;
    for (const auto& f : found->second) {
      std::printf(" %s:", f.timestamp.toString().c_str());
      for (float v : f.values) std::printf(" %g", double(v));
      std::printf("%s%s\n", f.label.empty() ? "" : " ", f.label.c_str());
    }
  };
  std::vector<std::vector<float>> buffers(channels, std::vector<float>(block));
  std::vector<const float*> pointers;
  for (const auto& b : buffers) pointers.push_back(b.data());
  for (size_t at = 0; at < size_t(info.frames); at += step) {
    for (size_t c = 0; c < channels; ++c)
      for (size_t k = 0; k < block; ++k)
        buffers[c][k] = at + k < size_t(info.frames) ? samples[(at + k) * channels + c] : 0.0f;
    print(plugin->process(pointers.data(),
                          Vamp::RealTime::frame2RealTime(long(at), unsigned(info.samplerate))));
  }
  print(plugin->getRemainingFeatures());
  return 0;
}
