#include "voice_cancel/FftComplex.h"

#include <cmath>

FftComplex::FftComplex(double re, double im) : re(re), im(im) {}

double FftComplex::abs() const { return std::sqrt(re * re + im * im); }

const double& FftComplex::operator[](unsigned long index) const { return index == 0 ? re : im; }

double convert_log_scale(double value, double offset) {
  // Written so that NaN fails the test and gives 0.
  if (!(value > 0.0)) {
    return 0.0;
  }
  const double r = std::log10(value) + offset;
  return r > 0.0 ? r : 0.0;
}
