#ifndef VOICE_CANCEL_FFT_COMPLEX_H
#define VOICE_CANCEL_FFT_COMPLEX_H

// One complex spectrum bin in double precision.
class FftComplex {
public:
  double re;
  double im;

  FftComplex(double re, double im);

  // Modulus: sqrt(re * re + im * im).
  double abs() const;

  // Component by index: 0 is re, 1 is im. Any other index is out of
  // contract; it yields im rather than memory outside the bin.
  const double& operator[](unsigned long index) const;
};

// log10(value) + offset, clipped below at 0; 0 for a value that is not
// greater than 0 (NaN included).
double convert_log_scale(double value, double offset);

#endif
