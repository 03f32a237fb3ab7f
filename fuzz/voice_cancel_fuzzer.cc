// Drives VoiceCancel with arbitrary lengths, vector sizes and values. Bytes
// 0-1 give the FFT length (0 to 1024), bytes 2-4 the sizes of the reference,
// mixture and magnitude vectors (mostly right, sometimes off), the rest are
// the spectra of successive frames as raw doubles.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "voice_cancel/VoiceCancel.h"

namespace {

std::size_t size_from(uint8_t code, std::size_t bins) {
  if (code < 192) {
    return bins;
  }
  const long offset = long(code) - 224;  // -32 to 31
  const long size = long(bins) + offset;
  return size < 0 ? 0 : std::size_t(size);
}

double next_double(const uint8_t*& data, std::size_t& size) {
  double value = 0.0;
  const std::size_t n = size < sizeof value ? size : sizeof value;
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 5) {
    return 0;
  }
  const unsigned long nfft = (data[0] | (unsigned(data[1]) << 8)) % 1025;
  const std::size_t bins = nfft / 2 + 1;
  const std::size_t sizes[3] = {size_from(data[2], bins), size_from(data[3], bins),
                                size_from(data[4], bins)};
  data += 5;
  size -= 5;

  std::srand(1);
  VoiceCancel* canceller = nullptr;
  try {
    canceller = new VoiceCancel(nfft);
  } catch (const std::invalid_argument&) {
    if (nfft != 0) {
      __builtin_trap();
    }
    return 0;
  }
  if (nfft == 0) {
    __builtin_trap();
  }

  const bool fits = sizes[0] == bins && sizes[1] == bins && sizes[2] == bins;
  for (int frame = 0; frame < 64; ++frame) {
    std::vector<FftComplex> reference, mixture;
    for (std::size_t i = 0; i < sizes[0]; ++i) {
      const double re = next_double(data, size);
      reference.emplace_back(re, next_double(data, size));
    }
    for (std::size_t i = 0; i < sizes[1]; ++i) {
      const double re = next_double(data, size);
      mixture.emplace_back(re, next_double(data, size));
    }
    std::vector<double> magnitude(sizes[2], -1.0);
    const int result = canceller->ExecuteVoiceCancel(reference, mixture, magnitude);
    if (result != (fits ? 0 : -1)) {
      __builtin_trap();
    }
    if (fits) {
      // Bins 0 and 1 are never processed.
      for (std::size_t i = 0; i < bins && i < 2; ++i) {
        if (magnitude[i] != 0.0) {
          __builtin_trap();
        }
      }
    } else {
      for (double value : magnitude) {
        if (value != -1.0) {
          __builtin_trap();
        }
      }
    }
    if (size == 0) {
      break;
    }
  }
  delete canceller;
  return 0;
}
