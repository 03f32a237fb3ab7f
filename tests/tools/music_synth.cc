#include "music_synth.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace tesk_beat_test {

namespace {

constexpr double kPi = 3.14159265358979323846;

class Noise {
 public:
  explicit Noise(unsigned seed) : state_(seed * 2654435761u + 1u) {}
  double next() {  // uniform in [-1, 1)
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return double(state_ >> 11) / double(1ull << 52) - 1.0;
  }

 private:
  uint64_t state_;
};

void addKick(std::vector<double>& out, int rate, double at, double gain) {
  int start = int(at * rate);
  double phase = 0.0;
  for (int i = 0; i < int(0.25 * rate) && start + i < int(out.size()); ++i) {
    double t = double(i) / rate;
    double f = 50.0 + 90.0 * std::exp(-t / 0.03);
    phase += 2.0 * kPi * f / rate;
    out[start + i] += gain * std::exp(-t / 0.12) * std::sin(phase);
  }
}

void addSnare(std::vector<double>& out, int rate, double at, double gain, Noise& noise) {
  int start = int(at * rate);
  double low = 0.0;
  for (int i = 0; i < int(0.2 * rate) && start + i < int(out.size()); ++i) {
    double t = double(i) / rate;
    double n = noise.next();
    low += 0.3 * (n - low);
    out[start + i] += gain * (std::exp(-t / 0.06) * (n - 0.5 * low) +
                              0.5 * std::exp(-t / 0.04) * std::sin(2.0 * kPi * 190.0 * t));
  }
}

void addHat(std::vector<double>& out, int rate, double at, double gain, Noise& noise) {
  int start = int(at * rate);
  double prev = 0.0;
  for (int i = 0; i < int(0.05 * rate) && start + i < int(out.size()); ++i) {
    double t = double(i) / rate;
    double n = noise.next();
    out[start + i] += gain * std::exp(-t / 0.012) * (n - prev);  // high-passed noise
    prev = n;
  }
}

void addTone(std::vector<double>& out, int rate, double at, double length, double freq,
             double gain, int harmonics) {
  int start = int(at * rate);
  int n = int(length * rate);
  for (int i = 0; i < n && start + i < int(out.size()); ++i) {
    double t = double(i) / rate;
    double env = std::min(1.0, t / 0.01) * std::exp(-t / (0.6 * length));
    double v = 0.0;
    for (int h = 1; h <= harmonics; ++h) v += std::sin(2.0 * kPi * freq * h * t) / h;
    out[start + i] += gain * env * v;
  }
}

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

}  // namespace

Piece makeGroove(double bpm, double seconds, int rate, int channels, unsigned seed,
                 double lead_in) {
  Piece p;
  p.rate = rate;
  p.channels = channels;
  p.bpm = bpm;
  std::vector<double> mono(size_t(seconds * rate), 0.0);
  Noise noise(seed);
  const double beat = 60.0 / bpm;
  // I - vi - IV - V, one chord per bar.
  const int roots[] = {48, 45, 41, 43};
  const int thirds[] = {4, 3, 4, 4};
  for (int b = 0;; ++b) {
    double t = lead_in + b * beat;
    if (t >= seconds) break;
    p.beats.push_back(t);
    int in_bar = b % 4;
    int bar = b / 4;
    int root = roots[bar % 4];
    if (in_bar == 0 || in_bar == 2) addKick(mono, rate, t, 0.9);
    if (in_bar == 3) addKick(mono, rate, t + 0.5 * beat, 0.5);
    if (in_bar == 1 || in_bar == 3) addSnare(mono, rate, t, 0.5, noise);
    addHat(mono, rate, t, 0.25, noise);
    addHat(mono, rate, t + 0.5 * beat, 0.15, noise);
    addTone(mono, rate, t, 0.9 * beat, midiHz(root - 12), 0.35, 4);
    if (in_bar == 0) {
      for (int interval : {0, thirds[bar % 4], 7})
        addTone(mono, rate, t, 4.0 * beat, midiHz(root + 12 + interval), 0.08, 3);
    }
  }
  double peak = 0.0;
  for (double v : mono) peak = std::max(peak, std::fabs(v));
  const double scale = peak > 0.0 ? 0.89 / peak : 1.0;
  p.samples.resize(mono.size() * channels);
  for (size_t i = 0; i < mono.size(); ++i)
    for (int c = 0; c < channels; ++c)
      p.samples[i * channels + c] = float(mono[i] * scale * (c % 2 ? 0.9 : 1.0));
  return p;
}

void writePiece(const std::string& path, const Piece& piece, int format) {
  SF_INFO info{};
  info.samplerate = piece.rate;
  info.channels = piece.channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  sf_writef_float(f, piece.samples.data(), sf_count_t(piece.samples.size() / piece.channels));
  sf_close(f);
}

double fMeasure(const std::vector<double>& reference, const std::vector<double>& estimated,
                double skip, double tolerance) {
  std::vector<double> ref, est;
  for (double t : reference)
    if (t >= skip) ref.push_back(t);
  for (double t : estimated)
    if (t >= skip) est.push_back(t);
  if (ref.empty() || est.empty()) return 0.0;
  // Greedy one-to-one matching in time order is exact for sorted beats
  // whose spacing exceeds twice the tolerance.
  size_t i = 0, j = 0, hits = 0;
  while (i < ref.size() && j < est.size()) {
    double d = est[j] - ref[i];
    if (std::fabs(d) <= tolerance) {
      ++hits;
      ++i;
      ++j;
    } else if (d < 0) {
      ++j;
    } else {
      ++i;
    }
  }
  double precision = double(hits) / est.size(), recall = double(hits) / ref.size();
  return precision + recall > 0 ? 2 * precision * recall / (precision + recall) : 0.0;
}

}  // namespace tesk_beat_test
