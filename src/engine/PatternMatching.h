#ifndef BEAT_TRACKER_ENGINE_PATTERN_MATCHING_H
#define BEAT_TRACKER_ENGINE_PATTERN_MATCHING_H

#include <cstddef>

namespace beat_tracker {
namespace detail {

// Lanes the kernels may compute (and read) beyond the last requested lag.
constexpr int kLagPadding = 8;

enum class SimdLevel { kBaseline, kAvx2, kAvx512 };

// Best instruction set of this CPU, detected once.
SimdLevel detectedSimdLevel();
bool simdLevelSupported(SimdLevel level);

// Pattern-matching sums over a per-band, time-ordered onset history.
// `values` and `squares` hold `bands` rows of `stride` doubles; row[a] is the
// onset value at age a and squares[a] its square. For lag index i in
// [0, lags), with lag = lag0 + i:
//   cross[i] = sum over bands b, then t in [0, length): row[t + lag] * row[t]
//   past[i]  = the same order of                        squares[t + lag]
//   *now     = the same order of                        squares[t]
// Every lag keeps its own accumulators and summation order, so the results
// are the same bits for every SIMD level. Rows must be readable up to index
// length + lag0 + lags - 2 + kLagPadding; cross and past need
// lags + kLagPadding entries.
void matchPatterns(SimdLevel level, const double* values, const double* squares,
                   std::size_t stride, int bands, int length, int lag0, int lags,
                   double* cross, double* past, double* now);

}  // namespace detail
}  // namespace beat_tracker

#endif
