#include "engine/TrackingSteps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace beat_tracker {
namespace detail {
namespace {

// First maximum: strict '>' scan from offset 0.
int firstMax(const std::vector<double>& v) {
  return static_cast<int>(std::max_element(v.begin(), v.end()) - v.begin());
}

// Offset of a whole-number value, scaled up by `factor` until it reaches the
// candidate range.
int scaleIntoRange(int d, int factor, int cc_shift_start) {
  while (d < cc_shift_start - 5) d = factor * d;
  return d;
}

double scaleIntoRange(double f, double factor, int cc_shift_start) {
  while (f < cc_shift_start - 5) f = factor * f;
  return f;
}

}  // namespace

IntervalChoice chooseInterval(const std::vector<double>& stpm, int cc_shift_start,
                              TrackingState& state) {
  const int n = static_cast<int>(stpm.size());
  IntervalChoice result;

  // Strict local maxima only; a plateau gives no peak.
  std::vector<double> peaks(stpm.size(), 0.0);
  peaks[0] = stpm[0] > stpm[1] ? stpm[0] : 0.0;
  peaks[n - 1] = stpm[n - 1] > stpm[n - 2] ? stpm[n - 1] : 0.0;
  for (int i = 1; i <= n - 2; ++i)
    peaks[i] = (stpm[i] > stpm[i - 1] && stpm[i] > stpm[i + 1]) ? stpm[i] : 0.0;

  const int p = firstMax(peaks);
  double v = peaks[p];
  peaks[p] = 0.0;
  double chosen = p;
  int q = -cc_shift_start;
  double qv = 0.0;

  if (v == 0.0) {
    chosen = state.previous_interval_offset;
  } else {
    // Octave check against the strongest peak at least 20 frames away.
    for (;;) {
      const int k = firstMax(peaks);
      const double w = peaks[k];
      if (std::abs(k - p) < 20 && w != 0.0) {
        peaks[k] = 0.0;
        continue;
      }
      if (w < 0.7 * v) break;
      q = k;
      qv = w;
      int d = std::abs(p - q);
      if (d > 19) {
        d = scaleIntoRange(d, 2, cc_shift_start);
        const int e1 = d - cc_shift_start;
        const int e2 = 2 * d - cc_shift_start;
        if (std::abs(e1 - p) > std::abs(e1 - q) && std::abs(e1 - q) < 5) {
          chosen = q;
        } else if (std::abs(e2 - p) > std::abs(e2 - q) && std::abs(e2 - q) < 5) {
          chosen = q;
        } else if (std::abs(e1 - p) >= 5 && std::abs(e2 - p) >= 5) {
          d = scaleIntoRange(std::abs(p - q), 3, cc_shift_start);
          const int e3 = d - cc_shift_start;
          if (std::abs(e3 - p) > std::abs(e3 - q) && std::abs(e3 - q) < 5) chosen = q;
        }
      }
      break;
    }

    // Continuity: hold the previous interval while its decayed peak is
    // stronger, or move to a multiple of it.
    state.previous_peak_value = 0.85 * state.previous_peak_value;
    const double prev = state.previous_interval_offset;
    if (state.previous_peak_value > v) {
      chosen = prev;
      v = state.previous_peak_value;
    } else {
      double moved;
      if (continuityOffset(prev, chosen, cc_shift_start, &moved)) {
        chosen = moved;
        v = state.previous_peak_value;
      }
    }
  }

  if (*std::max_element(stpm.begin(), stpm.end()) == 0.0) {
    chosen = -5;
    result.silent = true;
  }
  state.previous_interval_offset = chosen;
  state.previous_peak_value = v;

  result.chosen = chosen;
  result.peak = p;
  result.second = q;
  result.peak_value = v;
  result.second_value = qv;
  return result;
}

bool continuityOffset(double previous, double chosen, int cc_shift_start, double* moved) {
  double f = std::fabs(previous - chosen);
  if (!(f > 19)) return false;
  f = scaleIntoRange(f, 2.0, cc_shift_start);
  const double g1 = f - cc_shift_start;
  const double g2 = 2 * f - cc_shift_start;
  if (std::fabs(g1 - previous) < 5) {
    if (std::fabs(g2 - chosen) >= 5) {
      *moved = g1;
      return true;
    }
  } else if (std::fabs(g1 - chosen) >= 5) {
    f = scaleIntoRange(std::fabs(previous - chosen), 3.0, cc_shift_start);
    const double g3 = f - cc_shift_start;
    if (std::fabs(g3 - previous) < 5) {
      *moved = g3;
      return true;
    }
  }
  return false;
}

int largestReachableInterval(int cc_shift_start, int cc_shift_end) {
  // Every offset a frame can choose: a peak offset 0 .. n - 1, the silent
  // offset -5, and whatever continuity makes of a reachable previous offset
  // and any peak. Multiples stay below 2 cc_shift_start - 18 (a tripled
  // distance just under cc_shift_start - 5), so the search is finite.
  const int n = cc_shift_end - cc_shift_start;
  const int lowest = -5;
  std::vector<char> seen(static_cast<std::size_t>(std::max(n, 2 * cc_shift_start) + 6), 0);
  std::vector<int> pending;
  auto add = [&](int offset) {
    const std::size_t index = static_cast<std::size_t>(offset - lowest);
    if (index >= seen.size()) seen.resize(index + 1, 0);
    char& mark = seen[index];
    if (!mark) {
      mark = 1;
      pending.push_back(offset);
    }
  };
  add(lowest);
  for (int c = 0; c < n; ++c) add(c);
  int largest = n - 1;
  while (!pending.empty()) {
    const int previous = pending.back();
    pending.pop_back();
    largest = std::max(largest, previous);
    // Peaks within 19 frames of the previous offset never move.
    for (int c = 0; c < n; ++c) {
      if (c > previous - 20 && c < previous + 20) {
        c = previous + 19;
        continue;
      }
      double next;
      if (continuityOffset(previous, c, cc_shift_start, &next)) add(static_cast<int>(next));
    }
  }
  return cc_shift_start + largest;
}

int pastBeatCount(int frame_count, int frames_per_window, int interval) {
  if (interval == 0) return 0;
  const int q = (frame_count - frames_per_window / 2) / interval;
  return q <= 2 ? q : 3;
}

double accumulateReliability(double sum, double count, double contribution) {
  return sum + (count * sum + contribution) / (count + 1);
}

bool beatSearchDue(int frame_count, int cc_shift_end, int stpm_pattern_length, int past_beats,
                   int beat_time, double interval) {
  return frame_count > cc_shift_end + stpm_pattern_length && past_beats == 3 &&
         frame_count - cc_shift_end > beat_time + 3 * interval / 2;
}

int searchBeat(std::vector<double> window, int frame_count, int cc_shift_end, double interval,
               int beat_time, TrackingState& state, std::ostream& out) {
  const double L = interval;
  const int size = static_cast<int>(window.size());
  if (size == 0) return beat_time;

  const int k1 = firstMax(window);
  const double w1 = window[k1];
  if (w1 == 0.0) return beat_time;

  const int third = static_cast<int>(std::floor(L / 3));
  auto clear_around = [&](int k) {
    window[k] = 0.0;
    for (int j = k - third; j <= k + third - 1; ++j)
      if (j >= 0 && j < size) window[j] = 0.0;
  };

  clear_around(k1);
  int k2 = firstMax(window);
  while (window[k2] != 0.0 && std::abs(k2 - k1) < L / 3) {
    window[k2] = 0.0;
    out << "cal max in time sec" << std::endl;
    k2 = firstMax(window);
  }
  const double w2 = window[k2];
  clear_around(k2);
  int k3 = firstMax(window);
  while (window[k3] != 0.0 && (std::abs(k3 - k1) < L / 3 || std::abs(k3 - k2) < L / 3)) {
    window[k3] = 0.0;
    out << "cal max in time third" << std::endl;
    k3 = firstMax(window);
  }
  const double w3 = window[k3];

  const int base = frame_count - cc_shift_end;
  const int pos1 = frame_count - k1 - cc_shift_end;
  const int pos2 = frame_count - k2 - cc_shift_end;
  const int pos3 = frame_count - k3 - cc_shift_end;
  const double expected = base - L / 2;
  const double lo = base - 2 * L / 3;
  const double hi = base - L / 3;
  const double d1 = std::fabs(pos1 - expected);
  const double d2 = std::fabs(pos2 - expected);
  const double d3 = std::fabs(pos3 - expected);
  const double r2 = w1 / w2;
  const double r3 = w1 / w3;

  if (std::fabs(state.previous_beat_interval - L) > 5) state.interval_stable = false;
  state.previous_beat_interval = L;

  const bool second_counts = state.interval_stable && w2 != 0.0 && r2 < 50;
  const bool third_counts = state.interval_stable && w3 != 0.0 && r3 < 50;

  state.beat_change_count += 1;
  int found;
  if (second_counts && third_counts) {
    if (d2 >= d1 && d3 >= d1)
      found = pos1;
    else if (d1 >= d2 && d3 >= d2)
      found = pos2;
    else
      found = pos3;
  } else if (second_counts) {
    found = d2 >= d1 ? pos1 : pos2;
  } else {
    found = pos1;
  }

  if ((found < lo || found > hi) && state.interval_stable) {
    out << "beat not detect out of range : ";
    if (std::min(state.beat_change_count / 5.0, 1.0) > static_cast<double>(state.beat_miss_count)) {
      // A single outlier is replaced by the expected beat.
      state.beat_miss_count += 1;
      found = static_cast<int>(expected);
      out << "remain" << std::endl;
    } else {
      // A second consecutive outlier is a new beat phase.
      found = pos1;
      out << "change : " << state.beat_change_count << ", " << state.beat_miss_count << std::endl;
      state.beat_change_count = 0;
      state.beat_miss_count = 0;
    }
  } else {
    state.beat_miss_count = 0;
  }
  state.interval_stable = true;
  return found;
}

int walkForward(int beat_time, int frame_count, int cc_shift_end, int history_length,
                RingIBuffer<double>& interval_buffer, std::ostream& out) {
  int tb = beat_time;
  if (beat_time == 0) return tb;
  // The interval at the start must still be held.
  if (frame_count - tb > history_length - 1) tb = frame_count - (history_length - 1);
  for (int pass = 1;; ++pass) {
    const int ni = static_cast<int>(interval_buffer[static_cast<unsigned long>(frame_count - tb)]);
    int next = tb + ni;
    const bool trace = pass >= 51;
    if (trace) {
      out << "temp_beat_time : " << next << std::endl;
      out << "t_current : " << frame_count << std::endl;
      out << "now_interval : " << ni << std::endl;
      out << "next_beat_time : " << tb << std::endl;
    }
    if (!(frame_count > next && ni != 0)) break;
    int alt = static_cast<int>(interval_buffer[static_cast<unsigned long>(frame_count - next)]);
    if (alt < ni && alt != 0) {
      next = tb + alt;
    } else if (alt == ni && tb + cc_shift_end < frame_count) {
      alt = static_cast<int>(
          interval_buffer[static_cast<unsigned long>(frame_count - tb - cc_shift_end)]);
      if (alt > ni) next = tb + alt;
    }
    if (trace) {
      out << "in temp_beat_time : " << next << std::endl;
      out << "in t_current : " << frame_count << std::endl;
      out << "in now_interval : " << ni << std::endl;
      out << "in next_beat_time : " << tb << std::endl;
    }
    if (!(frame_count > next)) break;
    tb = next;
  }
  return tb;
}

}  // namespace detail
}  // namespace beat_tracker
