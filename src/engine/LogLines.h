#ifndef BEAT_TRACKER_ENGINE_LOG_LINES_H
#define BEAT_TRACKER_ENGINE_LOG_LINES_H

#include <ostream>
#include <vector>

namespace beat_tracker {
namespace detail {

// Diagnostic vector line: every value followed by one blank, then a
// flushing line end.
inline void writeVectorLine(std::ostream& out, const std::vector<double>& values,
                            std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) out << values[i] << " ";
  out << std::endl;
}

inline void writeVectorLine(std::ostream& out, const std::vector<double>& values) {
  writeVectorLine(out, values, 0, values.size());
}

}  // namespace detail
}  // namespace beat_tracker

#endif
