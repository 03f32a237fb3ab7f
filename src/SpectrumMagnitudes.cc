#include "SpectrumMagnitudes.h"

#include <cmath>

// Built without errno for sqrt (see CMakeLists.txt), so that the loop
// vectorises: its argument is never negative, and NaN stays NaN either way.
// Every operation is correctly rounded, so each instruction set gives the
// same bits.

namespace {

inline void magnitudesOf(const float *re_im, std::size_t count, double *out) {
  for (std::size_t k = 0; k < count; ++k) {
    const double re = re_im[2 * k], im = re_im[2 * k + 1];
    out[k] = std::sqrt(re * re + im * im);
  }
}

__attribute__((target("avx2"))) void magnitudesAvx2(const float *re_im, std::size_t count,
                                                    double *out) {
  magnitudesOf(re_im, count, out);
}

void magnitudesBaseline(const float *re_im, std::size_t count, double *out) {
  magnitudesOf(re_im, count, out);
}

bool hasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace

void spectrumMagnitudes(const std::complex<float> *bins, std::size_t count, double *out) {
  static const bool avx2 = hasAvx2();
  // std::complex<float> is laid out as its real and imaginary parts.
  const float *re_im = reinterpret_cast<const float *>(bins);
  if (avx2)
    magnitudesAvx2(re_im, count, out);
  else
    magnitudesBaseline(re_im, count, out);
}
