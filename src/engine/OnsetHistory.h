#ifndef BEAT_TRACKER_ENGINE_ONSET_HISTORY_H
#define BEAT_TRACKER_ENGINE_ONSET_HISTORY_H

#include <cstddef>
#include <vector>

#include "engine/RingIBuffer.h"

namespace beat_tracker {

// Per-band, time-ordered copy of the newest `depth` onset vectors, with the
// square of every value, so that pattern matching streams contiguous memory.
// Row b holds band band_begin + b; element a of a row is the value at age a.
class OnsetHistory {
 public:
  // Zero history for bands [band_begin, band_end) and `depth` frames.
  void reset(int band_begin, int band_end, std::size_t depth);
  // Adds the newest onset vector (at least band_end values).
  void push(const std::vector<double>& onset);
  // Replaces the history with the newest `depth` frames of `ring`.
  // Throws std::invalid_argument if a frame is shorter than band_end.
  void assign(RingIBuffer<std::vector<double>>& ring);

  const double* values() const { return value_rows.data() + head; }
  const double* squares() const { return square_rows.data() + head; }
  std::size_t stride() const { return row_stride; }
  int bands() const { return band_count; }

 private:
  std::vector<double> value_rows;
  std::vector<double> square_rows;
  std::size_t row_stride = 0;
  std::size_t depth = 0;
  std::size_t slack = 0;
  std::size_t head = 0;
  int band_begin = 0;
  int band_count = 0;
};

}  // namespace beat_tracker

#endif
