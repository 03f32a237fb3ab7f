#include "engine/OnsetHistory.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/PatternMatching.h"

namespace beat_tracker {

void OnsetHistory::reset(int band_begin_, int band_end, std::size_t depth_) {
  band_begin = band_begin_;
  band_count = std::max(0, band_end - band_begin_);
  depth = std::max<std::size_t>(depth_, 1);
  // New frames are written backwards into the slack; when it is used up the
  // newest depth - 1 frames move back to its end, once every `slack` frames.
  slack = std::max<std::size_t>(depth, 256);
  row_stride = slack + depth + static_cast<std::size_t>(detail::kLagPadding);
  value_rows.assign(row_stride * static_cast<std::size_t>(band_count), 0.0);
  square_rows.assign(row_stride * static_cast<std::size_t>(band_count), 0.0);
  head = slack;
}

void OnsetHistory::push(const std::vector<double>& onset) {
  if (head == 0) {
    for (int b = 0; b < band_count; ++b) {
      double* v = value_rows.data() + static_cast<std::size_t>(b) * row_stride;
      double* s = square_rows.data() + static_cast<std::size_t>(b) * row_stride;
      std::memmove(v + slack, v, (depth - 1) * sizeof(double));
      std::memmove(s + slack, s, (depth - 1) * sizeof(double));
    }
    head = slack;
  }
  --head;
  for (int b = 0; b < band_count; ++b) {
    const double x = onset[static_cast<std::size_t>(band_begin + b)];
    value_rows[static_cast<std::size_t>(b) * row_stride + head] = x;
    square_rows[static_cast<std::size_t>(b) * row_stride + head] = x * x;
  }
}

void OnsetHistory::assign(RingIBuffer<std::vector<double>>& ring) {
  std::fill(value_rows.begin(), value_rows.end(), 0.0);
  std::fill(square_rows.begin(), square_rows.end(), 0.0);
  head = 0;
  const std::size_t needed = static_cast<std::size_t>(band_begin + band_count);
  for (std::size_t a = 0; a < depth; ++a) {
    const std::vector<double>& frame = ring[a];
    if (frame.size() < needed)
      throw std::invalid_argument("onset frame at age " + std::to_string(a) + " has " +
                                  std::to_string(frame.size()) + " values, at least " +
                                  std::to_string(needed) + " needed");
    for (int b = 0; b < band_count; ++b) {
      const double x = frame[static_cast<std::size_t>(band_begin + b)];
      value_rows[static_cast<std::size_t>(b) * row_stride + a] = x;
      square_rows[static_cast<std::size_t>(b) * row_stride + a] = x * x;
    }
  }
}

}  // namespace beat_tracker
