#ifndef BEAT_TRACKER_TEST_SUPPORT_SPECTRA_H
#define BEAT_TRACKER_TEST_SUPPORT_SPECTRA_H

// Synthetic signals and their magnitude spectra, shared by the engine tests
// and the engine benchmark.

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace beat_tracker_test {

// Small deterministic generator (xorshift64*), uniform in [-1, 1).
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : state(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  double next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const std::uint64_t r = state * 0x2545F4914F6CDD1Dull;
    return static_cast<double>(r >> 11) * (2.0 / 9007199254740992.0) - 1.0;
  }

 private:
  std::uint64_t state;
};

// In-place radix-2 FFT; size must be a power of two.
inline void fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  const double pi = std::acos(-1.0);
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * pi / static_cast<double>(len);
    const std::complex<double> w_len(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= w_len;
      }
    }
  }
}

// Hann-windowed magnitude spectra (window / 2 bins) of frames that start
// every `shift` samples.
inline std::vector<std::vector<double>> magnitudeSpectra(const std::vector<double>& signal,
                                                         std::size_t window, std::size_t shift,
                                                         std::size_t frames) {
  const double pi = std::acos(-1.0);
  std::vector<double> hann(window);
  for (std::size_t i = 0; i < window; ++i)
    hann[i] = 0.5 - 0.5 * std::cos(2.0 * pi * static_cast<double>(i) / static_cast<double>(window));
  std::vector<std::vector<double>> spectra;
  spectra.reserve(frames);
  std::vector<std::complex<double>> buffer(window);
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t i = 0; i < window; ++i) {
      const std::size_t s = f * shift + i;
      buffer[i] = s < signal.size() ? signal[s] * hann[i] : 0.0;
    }
    fft(buffer);
    std::vector<double> magnitudes(window / 2);
    for (std::size_t k = 0; k < window / 2; ++k) magnitudes[k] = std::abs(buffer[k]);
    spectra.push_back(std::move(magnitudes));
  }
  return spectra;
}

// Clicks (10 ms bursts of decaying noise) every `period` samples from
// sample `first`.
inline std::vector<double> clickTrack(double sampling_freq, std::size_t samples,
                                      std::size_t first, std::size_t period) {
  std::vector<double> signal(samples, 0.0);
  Noise noise(12345);
  const std::size_t burst = static_cast<std::size_t>(sampling_freq * 0.010);
  for (std::size_t start = first; start < samples; start += period)
    for (std::size_t i = 0; i < burst && start + i < samples; ++i)
      signal[start + i] = noise.next() * std::exp(-static_cast<double>(i) / (burst / 4.0));
  return signal;
}

// Drum-and-bass loop: kick on beats 1 and 3, snare on 2 and 4, hi-hat on
// every eighth note, and a bass line of four notes per bar.
inline std::vector<double> drumAndBass(double sampling_freq, double bpm, std::size_t samples) {
  const double pi = std::acos(-1.0);
  std::vector<double> signal(samples, 0.0);
  Noise noise(777);
  const double beat = 60.0 / bpm * sampling_freq;
  const double bass_notes[4] = {55.0, 65.41, 73.42, 49.0};
  for (std::size_t n = 0;; ++n) {
    const std::size_t eighth = static_cast<std::size_t>(static_cast<double>(n) * beat / 2.0);
    if (eighth >= samples) break;
    const bool on_beat = n % 2 == 0;
    const std::size_t beat_index = n / 2;
    // Hi-hat: short bright noise burst.
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.03 * sampling_freq) && eighth + i < samples; ++i) {
      const double t = static_cast<double>(i) / sampling_freq;
      signal[eighth + i] += 0.15 * noise.next() * std::exp(-t / 0.008);
    }
    if (!on_beat) continue;
    if (beat_index % 2 == 0) {
      // Kick: falling sine sweep.
      double phase = 0.0;
      for (std::size_t i = 0; i < static_cast<std::size_t>(0.25 * sampling_freq) && eighth + i < samples; ++i) {
        const double t = static_cast<double>(i) / sampling_freq;
        const double freq = 50.0 + 100.0 * std::exp(-t / 0.03);
        phase += 2.0 * pi * freq / sampling_freq;
        signal[eighth + i] += 0.9 * std::sin(phase) * std::exp(-t / 0.12);
      }
    } else {
      // Snare: noise with a 200 Hz body.
      for (std::size_t i = 0; i < static_cast<std::size_t>(0.2 * sampling_freq) && eighth + i < samples; ++i) {
        const double t = static_cast<double>(i) / sampling_freq;
        signal[eighth + i] += (0.5 * noise.next() + 0.3 * std::sin(2.0 * pi * 200.0 * t)) * std::exp(-t / 0.05);
      }
    }
    // Bass: one sustained note per beat.
    const double freq = bass_notes[beat_index % 4];
    const std::size_t length = static_cast<std::size_t>(beat * 0.9);
    for (std::size_t i = 0; i < length && eighth + i < samples; ++i) {
      const double t = static_cast<double>(i) / sampling_freq;
      const double saw = 2.0 * (t * freq - std::floor(t * freq + 0.5));
      signal[eighth + i] += 0.3 * saw * std::exp(-t / 0.4);
    }
  }
  return signal;
}

}  // namespace beat_tracker_test

#endif
