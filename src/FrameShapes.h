// The frame shapes the beat-tracking nodes accept. The window updates read
// the last columns of each AUDIO frame and exactly one window's bins of the
// FFTAUDIO frame's first row; anything else would read or write out of
// bounds, so such frames are refused before anything changes.
#ifndef TESK_MUSIC_FRAME_SHAPES_H
#define TESK_MUSIC_FRAME_SHAPES_H

#include <complex>
#include <string>

#include "tesk/Matrix.h"

// Why frame `count` cannot be used, or "" when it can. `window` is the
// analysis window fixed by frame 0 (ignored on frame 0, whose AUDIO width
// sets it).
std::string frameShapeFault(int count, const TESK::Matrix<float> &audio,
                            const TESK::Matrix<std::complex<float> > &spectrum, long window,
                            long advance);

#endif
