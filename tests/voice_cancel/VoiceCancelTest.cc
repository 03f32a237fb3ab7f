#include "voice_cancel/VoiceCancel.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <new>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <vector>

#include "test_support.h"

namespace {

std::vector<FftComplex> spectrum(std::size_t bins, double re, double im) {
  return std::vector<FftComplex>(bins, FftComplex(re, im));
}


}  // namespace

TEST(VoiceCancel, SizesMustMatchTheBinCount) {
  VoiceCancel canceller(512);
  const std::vector<FftComplex> good = spectrum(257, 1.0, 2.0);
  std::vector<double> magnitude(257, -1.0);
  for (std::size_t wrong : {256u, 258u, 0u}) {
    const std::vector<FftComplex> bad = spectrum(wrong, 1.0, 2.0);
    std::vector<double> bad_magnitude(wrong, -1.0);
    EXPECT_EQ(canceller.ExecuteVoiceCancel(bad, good, magnitude), -1);
    EXPECT_EQ(canceller.ExecuteVoiceCancel(good, bad, magnitude), -1);
    EXPECT_EQ(canceller.ExecuteVoiceCancel(good, good, bad_magnitude), -1);
    EXPECT_EQ(bad_magnitude, std::vector<double>(wrong, -1.0));
  }
  EXPECT_EQ(magnitude, std::vector<double>(257, -1.0));

  // Nothing adapted on the refused calls: the first accepted frame still
  // returns the mixture.
  EXPECT_EQ(canceller.ExecuteVoiceCancel(good, good, magnitude), 0);
  EXPECT_EQ(magnitude[100], FftComplex(1.0, 2.0).abs());
}

TEST(VoiceCancel, FirstFrameReturnsMixtureMagnitudeAboveBinOne) {
  for (unsigned long nfft : {1ul, 2ul, 3ul, 8ul, 512ul}) {
    VoiceCancel canceller(nfft);
    const std::size_t bins = nfft / 2 + 1;
    std::vector<FftComplex> reference, mixture;
    for (std::size_t i = 0; i < bins; ++i) {
      reference.emplace_back(0.5 + i, -0.25 * i);
      mixture.emplace_back(-1.5 * i, 3.0 - i);
    }
    std::vector<double> magnitude(bins, -1.0);
    std::srand(31);
    ASSERT_EQ(canceller.ExecuteVoiceCancel(reference, mixture, magnitude), 0);
    const int processed = bins > 2 ? int(bins) - 2 : 0;
    EXPECT_EQ(draws_made(31, std::rand()), 2 * processed) << "nfft " << nfft;
    for (std::size_t i = 0; i < bins; ++i) {
      const double expected = i < 2 ? 0.0 : mixture[i].abs();
      EXPECT_EQ(bits_of(magnitude[i]), bits_of(expected)) << "nfft " << nfft << " bin " << i;
    }
  }
}

namespace {

// A loud frame whose values depend on the frame number.
void loud_frame(int frame, std::size_t bins, std::vector<FftComplex>& reference,
                std::vector<FftComplex>& mixture) {
  reference.clear();
  mixture.clear();
  for (std::size_t i = 0; i < bins; ++i) {
    reference.emplace_back(std::sin(frame + 0.3 * i), std::cos(frame * 0.5 + i));
    mixture.emplace_back(0.7 * reference.back().re + 0.1 * std::cos(frame * 1.7),
                         0.7 * reference.back().im - 0.2 * i);
  }
}

}  // namespace

TEST(VoiceCancel, QuietReferenceFramesPassTheMixture) {
  VoiceCancel canceller(16);
  VoiceCancel twin(16);
  std::vector<FftComplex> reference, mixture;
  std::vector<double> magnitude(9), twin_magnitude(9);
  for (int frame = 0; frame < 20; ++frame) {
    loud_frame(frame, 9, reference, mixture);
    std::srand(frame);
    ASSERT_EQ(canceller.ExecuteVoiceCancel(reference, mixture, magnitude), 0);
    std::srand(frame);
    ASSERT_EQ(twin.ExecuteVoiceCancel(reference, mixture, twin_magnitude), 0);
  }

  // Power 0.00005 < 0.0001 in every bin: every bin passes, nothing is drawn.
  const std::vector<FftComplex> quiet = spectrum(9, 0.005, 0.005);
  std::vector<FftComplex> passed;
  for (int i = 0; i < 9; ++i) passed.emplace_back(i * 0.3, -2.0);
  std::srand(41);
  ASSERT_EQ(canceller.ExecuteVoiceCancel(quiet, passed, magnitude), 0);
  EXPECT_EQ(draws_made(41, std::rand()), 0);
  EXPECT_EQ(magnitude[0], 0.0);
  EXPECT_EQ(magnitude[1], 0.0);
  for (int i = 2; i < 9; ++i) {
    EXPECT_EQ(bits_of(magnitude[i]), bits_of(passed[i].abs())) << "bin " << i;
  }

  // The quiet frame's reference sample is overwritten by the next frame, so
  // the canceller goes on exactly as its twin that never saw the frame.
  for (int frame = 20; frame < 40; ++frame) {
    loud_frame(frame, 9, reference, mixture);
    std::srand(frame);
    ASSERT_EQ(canceller.ExecuteVoiceCancel(reference, mixture, magnitude), 0);
    std::srand(frame);
    ASSERT_EQ(twin.ExecuteVoiceCancel(reference, mixture, twin_magnitude), 0);
    for (int i = 0; i < 9; ++i) {
      ASSERT_EQ(bits_of(magnitude[i]), bits_of(twin_magnitude[i])) << "frame " << frame;
    }
  }
}

// The canceller is the bank in its documented configuration: 8 taps falling
// to 5, spacing 1, scales 1, step and scale rates 0.01, fixed means, power
// floor 0.0001.
TEST(VoiceCancel, RunsTheDocumentedBank) {
  const int nfft = 64;
  const int bins = nfft / 2 + 1;
  VoiceCancel canceller(nfft);
  SemiBlind* bank =
      new_SemiBlind(nullptr, nfft, 8, 5, 1, 1.0, 1.0, 0.01, 0.01, 0.01, 0.0, 0.0001);
  ASSERT_NE(bank, nullptr);
  std::vector<double> mix(2 * bins), ref(2 * bins), out(2 * bins);
  std::vector<double*> m(bins), r(bins), o(bins);
  for (int b = 0; b < bins; ++b) {
    m[b] = &mix[2 * b];
    r[b] = &ref[2 * b];
    o[b] = &out[2 * b];
  }
  std::mt19937 generator(3);
  std::normal_distribution<double> normal;
  std::vector<double> magnitude(bins);
  for (int frame = 0; frame < 200; ++frame) {
    std::vector<FftComplex> reference, mixture;
    for (int b = 0; b < bins; ++b) {
      // Some bins fall under the power floor now and then.
      const double level = normal(generator) > 1.5 ? 0.001 : 1.0;
      reference.emplace_back(level * normal(generator), level * normal(generator));
      mixture.emplace_back(normal(generator), normal(generator));
      ref[2 * b] = reference.back().re;
      ref[2 * b + 1] = reference.back().im;
      mix[2 * b] = mixture.back().re;
      mix[2 * b + 1] = mixture.back().im;
    }
    std::srand(frame);
    ASSERT_EQ(canceller.ExecuteVoiceCancel(reference, mixture, magnitude), 0);
    std::srand(frame);
    separate_SemiBlind(bank, m.data(), o.data(), r.data(), 1);
    for (int b = 2; b < bins; ++b) {
      const double expected = std::sqrt(out[2 * b] * out[2 * b] + out[2 * b + 1] * out[2 * b + 1]);
      ASSERT_EQ(bits_of(magnitude[b]), bits_of(expected)) << "frame " << frame << " bin " << b;
    }
  }
  delete_SemiBlind(bank, nullptr);
}

// Each bin's mixture is the reference through a short filter across frames
// plus an independent source; the canceller removes most of the reference.
TEST(VoiceCancel, RemovesFilteredReference) {
  const unsigned long nfft = 16;
  const std::size_t bins = nfft / 2 + 1;
  VoiceCancel canceller(nfft);
  std::mt19937 generator(7);
  std::normal_distribution<double> normal;
  using Complex = std::complex<double>;
  const Complex filter[2] = {{0.8, 0.3}, {-0.3, 0.2}};

  std::vector<Complex> previous(bins, 0.0);
  std::vector<double> magnitude(bins);
  const int frames = 30000, measured = 3000;
  double mixture_power = 0.0, output_power = 0.0, source_power = 0.0;
  for (int frame = 0; frame < frames; ++frame) {
    std::vector<FftComplex> reference, mixture;
    double frame_mixture = 0.0, frame_source = 0.0;
    for (std::size_t i = 0; i < bins; ++i) {
      const Complex x(normal(generator), normal(generator));
      const Complex source = 0.2 * Complex(normal(generator), normal(generator));
      const Complex m = filter[0] * x + filter[1] * previous[i] + source;
      previous[i] = x;
      reference.emplace_back(x.real(), x.imag());
      mixture.emplace_back(m.real(), m.imag());
      if (i >= 2) {
        frame_mixture += std::norm(m);
        frame_source += std::norm(source);
      }
    }
    ASSERT_EQ(canceller.ExecuteVoiceCancel(reference, mixture, magnitude), 0);
    if (frame >= frames - measured) {
      mixture_power += frame_mixture;
      source_power += frame_source;
      for (std::size_t i = 2; i < bins; ++i) {
        output_power += magnitude[i] * magnitude[i];
      }
    }
  }
  const double mixture_db = 10.0 * std::log10(mixture_power / source_power);
  const double output_db = 10.0 * std::log10(output_power / source_power);
  RecordProperty("mixture_to_source_db", std::to_string(mixture_db));
  RecordProperty("output_to_source_db", std::to_string(output_db));
  EXPECT_GT(mixture_db, 10.0);
  EXPECT_LT(output_db, 2.0) << "mixture " << mixture_db << " dB, output " << output_db;
}

TEST(VoiceCancel, RefusesLengthsItCannotHold) {
  EXPECT_THROW(VoiceCancel(0), std::invalid_argument);
  EXPECT_THROW(VoiceCancel(static_cast<unsigned long>(INT_MAX) + 1), std::invalid_argument);
  EXPECT_THROW(VoiceCancel((1ul << 33) + 512), std::invalid_argument);
  // The work arrays would need more than 32 bits of size: nothing is
  // allocated and nothing leaks.
  EXPECT_THROW(VoiceCancel(400000000), std::bad_alloc);
}
