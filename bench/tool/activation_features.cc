// The activation network's input feature of sound files, for training it:
// the library's own framing and feature code, so that training reads the
// numbers inference will. Frames as file_spectra.h says.
//
// Usage: activation_features IN OUT [IN OUT ...]
// OUT holds int32 frames, values, sample rate, hop and window, then
// frames x values float32 (little-endian, as the machine writes them).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "activation/InputFeature.h"
#include "file_spectra.h"

namespace {

void extract(const std::string& in, const std::string& out) {
  bar_pointer_bench::FileSpectra spectra(in);
  const bar_pointer::Settings& f = spectra.framing();
  activation::InputFeature feature(f.sample_rate, f.window_size);
  std::vector<float> values;
  std::vector<float> frame(activation::InputFeature::kValues);
  while (spectra.next()) {
    feature.process(spectra.magnitudes().data(), spectra.magnitudes().size(), frame.data());
    values.insert(values.end(), frame.begin(), frame.end());
  }
  const int32_t header[5] = {int32_t(values.size() / frame.size()), int32_t(frame.size()),
                             int32_t(f.sample_rate), f.hop_size, f.window_size};
  FILE* file = std::fopen(out.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + out);
  const bool ok = std::fwrite(header, sizeof header, 1, file) == 1 &&
                  std::fwrite(values.data(), sizeof(float), values.size(), file) == values.size();
  if (std::fclose(file) != 0 || !ok) throw std::runtime_error("cannot write " + out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: activation_features IN OUT [IN OUT ...]\n");
    return 2;
  }
  try {
    for (int i = 1; i + 1 < argc; i += 2) extract(argv[i], argv[i + 1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "activation_features: %s\n", e.what());
    return 1;
  }
  return 0;
}
