#ifndef BEAT_TRACKER_TEST_SUPPORT_LITERAL_ENGINE_H
#define BEAT_TRACKER_TEST_SUPPORT_LITERAL_ENGINE_H

// A deliberately plain beat tracker: every history 3000 frames deep, the mel
// filter tests every bin of every band, pattern matching is the triple loop,
// and every decision step is written inline. The engine must give the same
// bits; this one only has to be obviously right.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/RingIBuffer.h"
#include "support/EngineTestSupport.h"

namespace beat_tracker_test {

struct LiteralResult {
  std::vector<double> onset, stpm, chroma;
  double interval = 0, current_time = 0, beat_time = 0, recent_beat_time = 0, music_reliability = 0;
};

class LiteralEngine {
 public:
  // Diagnostic lines, one stream per written file.
  std::ostringstream chroma_log, mel_log, inc_mel_log, long_value_log, flat_num_log, inc_spec_log,
      mask_log, reliability_log, contrast_log, music_reli_log;
  std::ostringstream console;

  LiteralEngine(double fs, unsigned long window, unsigned long shift, double start, double end)
      : fs(fs), num_bins(window >> 1), shift(shift), spectra(3000), mel(3000), onsets(3000),
        onset_power(3000), interval_patterns(3000), rel_sum(3000), rel_count(3000), intervals(3000),
        music_rel(3000) {
    frames_per_window = static_cast<int>(window / shift);
    s0 = static_cast<int>(start);
    s1 = static_cast<int>(end);
    P = s1;
    console << "DEBUG" << P << s0 << s1 << std::endl;
    const double bin_width = fs / static_cast<double>(2 * num_bins);
    const double top = 2595.0 * std::log10(static_cast<double>(num_bins) * bin_width / 700.0 + 1.0);
    const double step = top / 64;
    edges.push_back(0.0);
    for (int i = 1; i <= 64; ++i)
      edges.push_back(((std::pow(10.0, (i * step) / 2595.0) - 1.0) * 700.0) / bin_width);
    edges.push_back(static_cast<double>(num_bins));
    const double f0 = 440.0 * std::pow(2.0, -4.75);
    for (unsigned long i = 0; i < num_bins; ++i) {
      if (i == 0) {
        octave.push_back(1e9);
        pitch.push_back(0);
        continue;
      }
      const double cents = 1200.0 * std::log2(static_cast<double>(i) / f0);
      const int n = static_cast<int>(std::trunc(cents / 100 + 0.5)) + 5;
      octave.push_back(n >= 0 ? n / 12 : 1e9);
      pitch.push_back(n >= 0 ? n % 12 : 0);
    }
    intervals.init(0.0);
    spectra.init(std::vector<double>(num_bins, 0.0));
    mel.init(std::vector<double>(64, 0.0));
    onsets.init(std::vector<double>(64, 0.0));
    onset_power.init(0.0);
    interval_patterns.init(std::vector<double>(s1, 0.0));
    rel_sum.init(0.0);
    rel_count.init(0);
    music_rel.init(0.0);
    frame_count = frames_per_window / 2 - 1;
    console << "beat_tracking initialize ended" << std::endl;
  }

  LiteralResult analyze(const std::vector<double>& spectrum) {
    frame_count = frame_count + 1;
    bool silent = false;
    spectra.push_back(spectrum);
    const std::vector<double>& S = spectra[0];

    // Chroma.
    std::vector<double> chroma(12, 0.0);
    double peak = 0;
    for (std::size_t i = 0; i < S.size(); ++i) {
      const int o = static_cast<int>(octave[i]);
      if (o > 0 && o <= 9) chroma[static_cast<int>(pitch[i])] += S[i];
    }
    for (double c : chroma)
      if (c > peak) peak = c;
    for (double& c : chroma) c = peak > 0 ? c / peak : 0.0;
    vectorLine(chroma_log, chroma, 0, 12);

    // Mel filter, every bin of every band.
    std::vector<double> M = referenceMelFilter(edges, S);
    vectorLine(mel_log, M, 0, 64);
    mel.push_back(M);

    // Onset vector.
    const int k[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
    std::vector<double>& F0 = mel[0];
    std::vector<double>& F1 = mel[1];
    std::vector<double>& F2 = mel[2];
    std::vector<double> onset(64, 0.0);
    for (int i = 1; i <= 62; ++i) {
      const double sum = double(k[0][0]) * F2[i - 1] + double(k[0][1]) * F1[i - 1] +
                         double(k[0][2]) * F0[i - 1] + double(k[1][0]) * F2[i] +
                         double(k[1][1]) * F1[i] + double(k[1][2]) * F0[i] +
                         double(k[2][0]) * F2[i + 1] + double(k[2][1]) * F1[i + 1] +
                         double(k[2][2]) * F0[i + 1];
      onset[i] = sum < 0 ? 0 : sum;
    }
    vectorLine(inc_mel_log, onset, 1, 63);
    onsets.push_back(onset);

    // Pattern matching.
    std::vector<double> stpm(s1 - s0, 0.0);
    for (int s = s0; s < s1; ++s) {
      double cross = 0, now = 0, past = 0;
      for (int f = 1; f < 63; ++f)
        for (int t = 0; t < P; ++t) {
          const double x = onsets[t][f], y = onsets[t + s][f];
          cross += y * x;
          now += x * x;
          past += y * y;
        }
      if (now != 0 && past != 0) stpm[s - s0] = ((cross * cross) / now) / past;
    }
    vectorLine(long_value_log, stpm, 0, stpm.size());

    // Peak picking.
    const int n = s1 - s0;
    std::vector<double> peaks(n, 0.0);
    peaks[0] = stpm[0] > stpm[1] ? stpm[0] : 0;
    peaks[n - 1] = stpm[n - 1] > stpm[n - 2] ? stpm[n - 1] : 0;
    for (int i = 1; i <= n - 2; ++i)
      peaks[i] = stpm[i] > stpm[i - 1] && stpm[i] > stpm[i + 1] ? stpm[i] : 0;
    int p = 0;
    for (int i = 1; i < n; ++i)
      if (peaks[i] > peaks[p]) p = i;
    double v = peaks[p];
    peaks[p] = 0;
    double chosen = p;
    int q = -s0;
    double qv = 0;
    if (v == 0) {
      chosen = prev_offset;
    } else {
      for (;;) {
        int kk = 0;
        for (int i = 1; i < n; ++i)
          if (peaks[i] > peaks[kk]) kk = i;
        const double w = peaks[kk];
        if (std::abs(kk - p) < 20 && w != 0) {
          peaks[kk] = 0;
          continue;
        }
        if (w < 0.7 * v) break;
        q = kk;
        qv = w;
        int d = std::abs(p - q);
        if (d > 19) {
          while (d < s0 - 5) d = 2 * d;
          const int e1 = d - s0, e2 = 2 * d - s0;
          if (std::abs(e1 - p) > std::abs(e1 - q) && std::abs(e1 - q) < 5) {
            chosen = q;
          } else if (std::abs(e2 - p) > std::abs(e2 - q) && std::abs(e2 - q) < 5) {
            chosen = q;
          } else if (std::abs(e1 - p) >= 5 && std::abs(e2 - p) >= 5) {
            d = std::abs(p - q);
            while (d < s0 - 5) d = 3 * d;
            const int e3 = d - s0;
            if (std::abs(e3 - p) > std::abs(e3 - q) && std::abs(e3 - q) < 5) chosen = q;
          }
        }
        break;
      }
      prev_peak = 0.85 * prev_peak;
      if (prev_peak > v) {
        chosen = prev_offset;
        v = prev_peak;
      } else {
        double f = std::fabs(prev_offset - chosen);
        if (f > 19) {
          while (f < s0 - 5) f = 2 * f;
          const double g1 = f - s0, g2 = 2 * f - s0;
          if (std::fabs(g1 - prev_offset) < 5) {
            if (std::fabs(g2 - chosen) >= 5) {
              chosen = g1;
              v = prev_peak;
            }
          } else if (std::fabs(g1 - chosen) >= 5) {
            f = std::fabs(prev_offset - chosen);
            while (f < s0 - 5) f = 3 * f;
            const double g3 = f - s0;
            if (std::fabs(g3 - prev_offset) < 5) {
              chosen = g3;
              v = prev_peak;
            }
          }
        }
      }
    }
    double largest = stpm[0];
    for (double x : stpm)
      if (x > largest) largest = x;
    if (largest == 0) {
      chosen = -5;
      silent = true;
    }
    prev_offset = chosen;
    prev_peak = v;
    intervals.push_back(s0 + chosen);

    unsigned long count = 0;
    for (int j = 1; j <= 200; ++j)
      if (intervals[0] - 5 < intervals[j] && intervals[j] < intervals[0] + 5) ++count;
    music_rel.push_back(silent ? 0 : count / 200.0);
    flat_num_log << count << std::endl;

    double power = 0.0;
    for (int j = 0; j < 62; ++j) power += onset[j];
    onset_power.push_back(power);

    // Interval and beat patterns.
    const double I = intervals[0];
    std::vector<double> H(s1, 0.0);
    for (int kk = 0; kk < I && kk < s1; ++kk) H[kk] = onset_power[kk] + onset_power[kk + static_cast<int>(I)];
    interval_patterns.push_back(H);
    vectorLine(inc_spec_log, H, 0, H.size());
    int nb = 3;
    if (interval != 0) {
      const int qq = (frame_count - frames_per_window / 2) / interval;
      if (qq <= 2) nb = qq;
    } else {
      nb = 0;
    }
    std::vector<double> R(s1, 0.0);
    double x = I;
    for (int b = 0; b < nb; ++b) {
      for (int m = 0; m < s1; ++m) R[m] += interval_patterns[static_cast<unsigned long>(x)][m];
      x = x + intervals[static_cast<unsigned long>(x)];
    }
    for (int m = 0; m < s1; ++m) mask_log << R[m] * H[m] << " ";
    mask_log << std::endl;

    rel_sum.push_back(0.0);
    rel_count.push_back(0);
    for (int kk = 0; kk < s1; ++kk) {
      const double Sk = rel_sum[kk];
      const double N = static_cast<double>(rel_count[kk]);
      rel_sum[kk] = Sk + (N * Sk + R[kk] * H[kk]) / (N + 1);
      rel_count[kk] = static_cast<unsigned long>(N + 1);
    }
    if (rel_sum[s1 + 1] > rel_sum[s1])
      rel_sum[s1] = 0;
    else
      rel_sum[s1 + 1] = 0;
    reliability_log << rel_sum[s1 + 2] << std::endl;

    // Beat search.
    const double L = interval;
    if (frame_count > s1 + P && nb == 3 && frame_count - s1 > beat_time + 3 * L / 2) search(L);

    // Walk forward.
    int tb = beat_time;
    if (beat_time != 0) {
      if (frame_count - tb >= 3000) tb = frame_count - 2999;
      for (int pass = 1;; ++pass) {
        const int ni = static_cast<int>(intervals[frame_count - tb]);
        int next = tb + ni;
        if (pass >= 51)
          console << "temp_beat_time : " << next << std::endl
                  << "t_current : " << frame_count << std::endl
                  << "now_interval : " << ni << std::endl
                  << "next_beat_time : " << tb << std::endl;
        if (!(frame_count > next && ni != 0)) break;
        int alt = static_cast<int>(intervals[frame_count - next]);
        if (alt < ni && alt != 0) {
          next = tb + alt;
        } else if (alt == ni && tb + s1 < frame_count) {
          alt = static_cast<int>(intervals[frame_count - tb - s1]);
          if (alt > ni) next = tb + alt;
        }
        if (pass >= 51)
          console << "in temp_beat_time : " << next << std::endl
                  << "in t_current : " << frame_count << std::endl
                  << "in now_interval : " << ni << std::endl
                  << "in next_beat_time : " << tb << std::endl;
        if (!(frame_count > next)) break;
        tb = next;
      }
    }

    interval = static_cast<int>(intervals[0]);
    const double seconds = static_cast<double>(static_cast<unsigned long>(frame_count) * shift) / fs;
    contrast_log << seconds << " " << s0 + chosen << " " << s0 + p << " " << s0 + q << " " << v << " "
                 << qv << std::endl;
    music_reli_log << seconds << " " << music_rel[0] << " " << interval << std::endl;

    LiteralResult r;
    r.onset = onset;
    r.stpm = stpm;
    r.chroma = chroma;
    r.interval = interval;
    r.current_time = frame_count;
    r.beat_time = beat_time;
    r.recent_beat_time = tb;
    r.music_reliability = music_rel[0];
    return r;
  }

 private:
  static void vectorLine(std::ostream& out, const std::vector<double>& v, std::size_t b, std::size_t e) {
    for (std::size_t i = b; i < e; ++i) out << v[i] << " ";
    out << std::endl;
  }

  static int firstMax(const std::vector<double>& W) {
    int k = 0;
    for (int i = 1; i < static_cast<int>(W.size()); ++i)
      if (W[i] > W[k]) k = i;
    return k;
  }

  void search(double L) {
    const int size = static_cast<int>(std::ceil(L));
    std::vector<double> W(size);
    for (int kk = 0; kk < size; ++kk) W[kk] = rel_sum[s1 + 1 + kk];
    const int k1 = firstMax(W);
    const double w1 = W[k1];
    if (w1 == 0) return;
    const int third = static_cast<int>(std::floor(L / 3));
    W[k1] = 0;
    for (int j = k1 - third; j <= k1 + third - 1; ++j)
      if (j >= 0 && j < size) W[j] = 0;
    int k2 = firstMax(W);
    while (W[k2] != 0 && std::abs(k2 - k1) < L / 3) {
      W[k2] = 0;
      console << "cal max in time sec" << std::endl;
      k2 = firstMax(W);
    }
    const double w2 = W[k2];
    W[k2] = 0;
    for (int j = k2 - third; j <= k2 + third - 1; ++j)
      if (j >= 0 && j < size) W[j] = 0;
    int k3 = firstMax(W);
    while (W[k3] != 0 && (std::abs(k3 - k1) < L / 3 || std::abs(k3 - k2) < L / 3)) {
      W[k3] = 0;
      console << "cal max in time third" << std::endl;
      k3 = firstMax(W);
    }
    const double w3 = W[k3];
    const int pos1 = frame_count - k1 - s1, pos2 = frame_count - k2 - s1, pos3 = frame_count - k3 - s1;
    const double e = (frame_count - s1) - L / 2;
    const double lo = (frame_count - s1) - 2 * L / 3;
    const double hi = (frame_count - s1) - L / 3;
    const double d1 = std::fabs(pos1 - e), d2 = std::fabs(pos2 - e), d3 = std::fabs(pos3 - e);
    const double r2 = w1 / w2, r3 = w1 / w3;
    if (std::fabs(prev_beat_interval - L) > 5) stable = false;
    prev_beat_interval = L;
    const bool second = stable && w2 != 0 && r2 < 50;
    const bool third_ok = stable && w3 != 0 && r3 < 50;
    change_count += 1;
    if (second && third_ok) {
      if (d2 >= d1 && d3 >= d1)
        beat_time = pos1;
      else if (d1 >= d2 && d3 >= d2)
        beat_time = pos2;
      else
        beat_time = pos3;
    } else if (second) {
      beat_time = d2 >= d1 ? pos1 : pos2;
    } else {
      beat_time = pos1;
    }
    if ((beat_time < lo || beat_time > hi) && stable) {
      console << "beat not detect out of range : ";
      if (std::min(change_count / 5.0, 1.0) > static_cast<double>(miss_count)) {
        miss_count += 1;
        beat_time = static_cast<int>(e);
        console << "remain" << std::endl;
      } else {
        beat_time = pos1;
        console << "change : " << change_count << ", " << miss_count << std::endl;
        change_count = 0;
        miss_count = 0;
      }
    } else {
      miss_count = 0;
    }
    stable = true;
  }

  double fs;
  unsigned long num_bins, shift;
  int frames_per_window = 0, s0 = 0, s1 = 0, P = 0;
  std::vector<double> edges, octave, pitch;
  RingIBuffer<std::vector<double>> spectra, mel, onsets;
  RingIBuffer<double> onset_power;
  RingIBuffer<std::vector<double>> interval_patterns;
  RingIBuffer<double> rel_sum;
  RingIBuffer<unsigned long> rel_count;
  RingIBuffer<double> intervals, music_rel;
  int frame_count = 0, beat_time = 0, interval = 0;
  double prev_offset = 0, prev_peak = 0, prev_beat_interval = 0;
  bool stable = false;
  int change_count = 0;
  unsigned long miss_count = 0;
};

}  // namespace beat_tracker_test

#endif
