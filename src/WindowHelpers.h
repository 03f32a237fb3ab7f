#ifndef TESK_MUSIC_WINDOW_HELPERS_H
#define TESK_MUSIC_WINDOW_HELPERS_H

#include <complex>
#include <vector>

#include "tesk/Matrix.h"
#include "voice_cancel/FftComplex.h"

// Slides `window` left by n samples and appends, for each of the n new
// columns (columns S - n to S - 1 of `frame`, S being the window size), half
// the sum of the channels. `frame` needs at least S columns and 0 <= n <= S.
void update_signal(std::vector<double> &window, TESK::Matrix<float> &frame, int n);

// Slides `window` left by n bins and appends n bins of the frame's first row
// (columns S - n to S - 1). `frame` needs a row of at least S columns and
// 0 <= n <= S.
void update_fftsignal(std::vector<FftComplex> &window,
                      TESK::Matrix<std::complex<float> > &frame, int n);

// Prints the first `count` entries of `v` (at most all of them), each
// followed by ", ", then a line end.
void PrintVector(std::vector<double> &v, int count);

#endif
