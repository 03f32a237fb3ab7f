#include "engine/PatternMatching.h"

#include <cstring>

namespace beat_tracker {
namespace detail {
namespace {

template <int V>
struct Lanes;
template <>
struct Lanes<2> {
  typedef double type __attribute__((vector_size(16)));
};
template <>
struct Lanes<4> {
  typedef double type __attribute__((vector_size(32)));
};
template <>
struct Lanes<8> {
  typedef double type __attribute__((vector_size(64)));
};

// One group of NB vectors of V consecutive lags. The broadcast onset value
// multiplies V lags at once; each lane is an independent accumulator.
template <int V, int NB, bool WithNow>
__attribute__((always_inline)) inline void matchChunk(const double* values, const double* squares,
                                                       std::size_t stride, int bands, int length,
                                                       int lag, double* cross, double* past,
                                                       double* now) {
  typedef typename Lanes<V>::type Vec;
  Vec c[NB];
  Vec p[NB];
  for (int j = 0; j < NB; ++j) {
    c[j] = Vec{};
    p[j] = Vec{};
  }
  double now_sum = 0.0;
  for (int b = 0; b < bands; ++b) {
    const double* x_row = values + static_cast<std::size_t>(b) * stride;
    const double* x_sq = squares + static_cast<std::size_t>(b) * stride;
    const double* y_row = x_row + lag;
    const double* y_sq = x_sq + lag;
    for (int t = 0; t < length; ++t) {
      Vec x;
      for (int l = 0; l < V; ++l) x[l] = x_row[t];
      if (WithNow) now_sum += x_sq[t];
      for (int j = 0; j < NB; ++j) {
        Vec y;
        Vec q;
        std::memcpy(&y, y_row + t + j * V, sizeof(Vec));
        std::memcpy(&q, y_sq + t + j * V, sizeof(Vec));
        c[j] += y * x;
        p[j] += q;
      }
    }
  }
  for (int j = 0; j < NB; ++j) {
    for (int l = 0; l < V; ++l) {
      cross[j * V + l] = c[j][l];
      past[j * V + l] = p[j][l];
    }
  }
  if (WithNow) *now = now_sum;
}

template <int V, int NB>
__attribute__((always_inline)) inline void matchChunkAt(bool with_now, const double* values,
                                                         const double* squares, std::size_t stride,
                                                         int bands, int length, int lag,
                                                         double* cross, double* past, double* now) {
  if (with_now)
    matchChunk<V, NB, true>(values, squares, stride, bands, length, lag, cross, past, now);
  else
    matchChunk<V, NB, false>(values, squares, stride, bands, length, lag, cross, past, now);
}

// Splits the lag vectors into groups of at most NBMAX vectors (as evenly as
// possible, to keep enough independent accumulators in every group).
template <int V, int NBMAX>
__attribute__((always_inline)) inline void matchAll(const double* values, const double* squares,
                                                     std::size_t stride, int bands, int length,
                                                     int lag0, int lags, double* cross,
                                                     double* past, double* now) {
  if (lags <= 0) {
    double sum = 0.0;
    for (int b = 0; b < bands; ++b)
      for (int t = 0; t < length; ++t) sum += squares[static_cast<std::size_t>(b) * stride + t];
    *now = sum;
    return;
  }
  const int vectors = (lags + V - 1) / V;
  const int groups = (vectors + NBMAX - 1) / NBMAX;
  const int base = vectors / groups;
  const int extra = vectors % groups;
  int first = 0;
  for (int g = 0; g < groups; ++g) {
    const int nb = base + (g < extra ? 1 : 0);
    const bool with_now = g == 0;
    const int lag = lag0 + first * V;
    double* c = cross + first * V;
    double* p = past + first * V;
    switch (nb) {
#define BT_MATCH_CASE(N)                                                                     \
  case N:                                                                                  \
    if constexpr (N <= NBMAX)                                                              \
      matchChunkAt<V, N>(with_now, values, squares, stride, bands, length, lag, c, p, now); \
    break;
      BT_MATCH_CASE(1)
      BT_MATCH_CASE(2)
      BT_MATCH_CASE(3)
      BT_MATCH_CASE(4)
      BT_MATCH_CASE(5)
      BT_MATCH_CASE(6)
      BT_MATCH_CASE(7)
      BT_MATCH_CASE(8)
#undef BT_MATCH_CASE
      default:
        break;
    }
    first += nb;
  }
}

__attribute__((target("avx512f"))) void matchAvx512(const double* values, const double* squares,
                                                     std::size_t stride, int bands, int length,
                                                     int lag0, int lags, double* cross,
                                                     double* past, double* now) {
  matchAll<8, 8>(values, squares, stride, bands, length, lag0, lags, cross, past, now);
}

__attribute__((target("avx2"))) void matchAvx2(const double* values, const double* squares,
                                               std::size_t stride, int bands, int length,
                                               int lag0, int lags, double* cross, double* past,
                                               double* now) {
  matchAll<4, 6>(values, squares, stride, bands, length, lag0, lags, cross, past, now);
}

void matchBaseline(const double* values, const double* squares, std::size_t stride, int bands,
                   int length, int lag0, int lags, double* cross, double* past, double* now) {
  matchAll<2, 6>(values, squares, stride, bands, length, lag0, lags, cross, past, now);
}

SimdLevel detect() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return SimdLevel::kAvx512;
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  return SimdLevel::kBaseline;
}

}  // namespace

SimdLevel detectedSimdLevel() {
  static const SimdLevel level = detect();
  return level;
}

bool simdLevelSupported(SimdLevel level) {
  return static_cast<int>(level) <= static_cast<int>(detectedSimdLevel());
}

void matchPatterns(SimdLevel level, const double* values, const double* squares,
                   std::size_t stride, int bands, int length, int lag0, int lags, double* cross,
                   double* past, double* now) {
  switch (level) {
    case SimdLevel::kAvx512:
      matchAvx512(values, squares, stride, bands, length, lag0, lags, cross, past, now);
      break;
    case SimdLevel::kAvx2:
      matchAvx2(values, squares, stride, bands, length, lag0, lags, cross, past, now);
      break;
    case SimdLevel::kBaseline:
      matchBaseline(values, squares, stride, bands, length, lag0, lags, cross, past, now);
      break;
  }
}

}  // namespace detail
}  // namespace beat_tracker
