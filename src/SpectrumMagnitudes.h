// The magnitudes of a spectrum's bins in double precision, as the
// bar-pointer tracker takes them: sqrt(re^2 + im^2), both squares exact.
#ifndef TESK_MUSIC_SPECTRUM_MAGNITUDES_H
#define TESK_MUSIC_SPECTRUM_MAGNITUDES_H

#include <complex>
#include <cstddef>

void spectrumMagnitudes(const std::complex<float> *bins, std::size_t count, double *out);

#endif
