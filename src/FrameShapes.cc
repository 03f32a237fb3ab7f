#include "FrameShapes.h"

std::string frameShapeFault(int count, const TESK::Matrix<float> &audio,
                            const TESK::Matrix<std::complex<float> > &spectrum, long window,
                            long advance) {
  const long columns = audio.ncols();
  if (count == 0) window = columns;
  const std::string frame = "frame " + std::to_string(count) + ": ";
  if (count == 0 && columns < 2)
    return frame + "the AUDIO matrix has " + std::to_string(columns) +
           " columns; the analysis window needs at least 2";
  if (count == 0 && advance > columns)
    return frame + "\"ADVANCE\" (" + std::to_string(advance) +
           ") is larger than the analysis window (" + std::to_string(columns) + " AUDIO columns)";
  if (count != 0 && columns < window)
    return frame + "the AUDIO matrix has " + std::to_string(columns) +
           " columns, fewer than the analysis window of " + std::to_string(window);
  if (spectrum.nrows() < 1) return frame + "the FFTAUDIO matrix has no rows";
  if (spectrum.ncols() != window / 2 + 1)
    return frame + "the FFTAUDIO matrix has " + std::to_string(spectrum.ncols()) +
           " columns, not the " + std::to_string(window / 2 + 1) + " bins of a " +
           std::to_string(window) + "-sample window";
  return "";
}
