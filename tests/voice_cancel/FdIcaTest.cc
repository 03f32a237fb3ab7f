#include "voice_cancel/FD_ICA.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

using Complex = std::complex<double>;

FD_ICA* make(int taps, int spacing, double power_floor = 0.0, double mean_rate = 0.0) {
  return new_FD_ICA(taps, spacing, 1.0, 1.0, 0.01, 0.01, 0.01, mean_rate, power_floor);
}


// Runs one sample and returns its output.
Complex run_one(FD_ICA* ica, Complex mixture, Complex reference) {
  const double m[2] = {mixture.real(), mixture.imag()};
  const double x[2] = {reference.real(), reference.imag()};
  double out[2];
  EXPECT_EQ(cancel_FD_ICA(ica, m, out, x, 1), 0);
  return {out[0], out[1]};
}

}  // namespace

TEST(FdIca, RingIsSmallestPowerOfTwoHoldingTheTaps) {
  struct Case {
    int taps, spacing, ring;
  };
  for (const Case& c : {Case{8, 1, 8}, Case{5, 1, 8}, Case{1, 1, 2}, Case{3, 3, 16},
                        Case{2, 1, 2}, Case{9, 1, 16}, Case{4, 4, 16}, Case{1, 5, 8}}) {
    FD_ICA* ica = make(c.taps, c.spacing);
    ASSERT_NE(ica, nullptr);
    EXPECT_EQ(ica->ring_mask, c.ring - 1) << c.taps << " x " << c.spacing;
    EXPECT_EQ(ica->taps, c.taps);
    EXPECT_EQ(ica->tap_spacing, c.spacing);
    EXPECT_EQ(ica->pos, 0);
    // The whole ring and every tap exist and start at zero.
    for (int k = 0; k < 2 * c.ring; ++k) {
      EXPECT_EQ(ica->ref_history[k], 0.0);
      EXPECT_EQ(ica->norm_ref_history[k], 0.0);
    }
    for (int k = 0; k < 2 * c.taps; ++k) {
      EXPECT_EQ(ica->coef[k], 0.0);
    }
    delete_FD_ICA(ica);
  }
}

TEST(FdIca, StoresItsSettings) {
  FD_ICA* ica = new_FD_ICA(4, 2, 1.5, 2.5, 0.03, 0.04, 0.05, 0.06, 0.07);
  ASSERT_NE(ica, nullptr);
  EXPECT_EQ(ica->out_scale, 1.5);
  EXPECT_EQ(ica->ref_scale, 2.5);
  EXPECT_EQ(ica->step, 0.03);
  EXPECT_EQ(ica->out_scale_rate, 0.04);
  EXPECT_EQ(ica->ref_scale_rate, 0.05);
  EXPECT_EQ(ica->mean_rate, 0.06);
  EXPECT_EQ(ica->power_floor, 0.07);
  EXPECT_EQ(ica->out_mean_re, 0.0);
  EXPECT_EQ(ica->ref_mean_im, 0.0);
  delete_FD_ICA(ica);
}

TEST(FdIca, PowerFloorBelowZeroBecomesTiny) {
  FD_ICA* negative = make(2, 1, -1.0);
  FD_ICA* zero = make(2, 1, 0.0);
  FD_ICA* minus_zero = make(2, 1, -0.0);
  FD_ICA* nan = make(2, 1, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(negative->power_floor, 1e-10);
  EXPECT_EQ(bits_of(zero->power_floor), bits_of(0.0));
  EXPECT_EQ(bits_of(minus_zero->power_floor), bits_of(-0.0));
  EXPECT_TRUE(std::isnan(nan->power_floor));
  for (FD_ICA* ica : {negative, zero, minus_zero, nan}) {
    delete_FD_ICA(ica);
  }
}

TEST(FdIca, RejectsSizesItCannotHold) {
  EXPECT_EQ(make(0, 1), nullptr);
  EXPECT_EQ(make(-3, 1), nullptr);
  EXPECT_EQ(make(4, 0), nullptr);
  EXPECT_EQ(make(4, -1), nullptr);
  // Rings beyond 2^31 samples.
  EXPECT_EQ(make(65536, 32769), nullptr);
  EXPECT_EQ(make(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()), nullptr);
  EXPECT_EQ(make(std::numeric_limits<int>::max(), 2), nullptr);
  delete_FD_ICA(nullptr);
}

TEST(FdIca, GatedSamplePassesMixtureAndChangesNothingElse) {
  FD_ICA* ica = make(3, 1, 0.25);
  ASSERT_NE(ica, nullptr);
  // Adapt on a few strong samples first so the state is not trivial.
  std::srand(11);
  for (int i = 0; i < 5; ++i) {
    run_one(ica, Complex(1.0 + i, -2.0), Complex(2.0, 0.5 * i));
  }
  const FD_ICA before = *ica;
  const std::vector<double> coef(ica->coef, ica->coef + 2 * ica->taps);
  const std::vector<double> norm(ica->norm_ref_history,
                                 ica->norm_ref_history + 2 * (ica->ring_mask + 1));

  // Power 0.2 < 0.25: gated.
  std::srand(77);
  const Complex out = run_one(ica, Complex(-3.25, 4.5), Complex(0.4, 0.2));
  EXPECT_EQ(draws_made(77, std::rand()), 0) << "a gated sample drew random numbers";

  EXPECT_EQ(out, Complex(-3.25, 4.5));
  EXPECT_EQ(ica->pos, before.pos);
  EXPECT_EQ(ica->ref_history[2 * before.pos], 0.4);
  EXPECT_EQ(ica->ref_history[2 * before.pos + 1], 0.2);
  EXPECT_EQ(std::vector<double>(ica->coef, ica->coef + 2 * ica->taps), coef);
  EXPECT_EQ(std::vector<double>(ica->norm_ref_history,
                                ica->norm_ref_history + 2 * (ica->ring_mask + 1)),
            norm);
  EXPECT_EQ(ica->out_scale, before.out_scale);
  EXPECT_EQ(ica->ref_scale, before.ref_scale);
  EXPECT_EQ(ica->out_mean_re, before.out_mean_re);
  EXPECT_EQ(ica->ref_mean_im, before.ref_mean_im);

  // The next sample overwrites the same slot and, at exactly the floor, adapts.
  std::srand(77);
  run_one(ica, Complex(1.0, 1.0), Complex(0.0, 0.5));
  EXPECT_EQ(ica->pos, (before.pos + 1) & ica->ring_mask);
  EXPECT_EQ(ica->ref_history[2 * before.pos], 0.0);
  EXPECT_EQ(draws_made(77, std::rand()), 2) << "an adapted sample draws exactly twice";
  delete_FD_ICA(ica);
}

TEST(FdIca, FirstAdaptedSampleReturnsMixtureExactly) {
  const Complex mixtures[] = {{1.25, -7.5}, {-0.0, 3.0}, {1e-300, -1e300}};
  for (const Complex& m : mixtures) {
    FD_ICA* ica = make(4, 2);
    const Complex out = run_one(ica, m, Complex(-2.0, 0.125));
    EXPECT_EQ(bits_of(out.real()), bits_of(m.real()));
    EXPECT_EQ(bits_of(out.imag()), bits_of(m.imag()));
    delete_FD_ICA(ica);
  }
}

TEST(FdIca, FirstUpdateDrawsOutputTermBeforeReferenceTerm) {
  // Zero taps give e = m and z = x; the two draws enter t and v in order.
  FD_ICA* ica = make(2, 1);
  std::srand(5);
  const double r1 = (double(std::rand()) * 0.001) / 2147483647.0;
  const double r2 = (double(std::rand()) * 0.001) / 2147483647.0;
  ASSERT_NE(r1, r2);
  std::srand(5);
  run_one(ica, Complex(0.6, 0.8), Complex(3.0, 4.0));

  const double t = 1.0 + r1;
  const double g = std::tanh(t);
  const double v = 5.0 + r2;
  const double gv = std::tanh(v);
  EXPECT_EQ(ica->out_scale, std::fabs(1.0 + ((1.0 - g * t) * 0.01) * 1.0));
  EXPECT_EQ(ica->ref_scale, std::fabs(1.0 + ((1.0 - gv * v) * 0.01) * 1.0));
  const double phi_re = (0.6 * g) / t;
  const double phi_im = (0.8 * g) / t;
  EXPECT_EQ(ica->coef[0], 0.0 + 0.01 * (phi_re * 3.0 + phi_im * 4.0));
  EXPECT_EQ(ica->coef[1], 0.0 + 0.01 * (phi_im * 3.0 - phi_re * 4.0));
  // Tap 1 meets the empty history slot.
  EXPECT_EQ(ica->coef[2], 0.0);
  EXPECT_EQ(ica->coef[3], 0.0);
  EXPECT_EQ(ica->pos, 1);
  delete_FD_ICA(ica);
}

TEST(FdIca, TapsReachBackBySpacingAcrossTheRingWrap) {
  // Step 0 freezes the filter: tap 1 alone, 3 frames back, gain (0, 2).
  FD_ICA* ica = new_FD_ICA(2, 3, 1.0, 1.0, 0.0, 0.01, 0.01, 0.0, 0.0);
  ASSERT_NE(ica, nullptr);
  ASSERT_EQ(ica->ring_mask, 7);
  ica->coef[3] = 2.0;
  for (int n = 0; n < 21; ++n) {
    const Complex out = run_one(ica, Complex(10.0, 0.0), Complex(n + 1.0, -1.0));
    // (0, 2) times (n - 2, -1) is (2, 2(n - 2)).
    const Complex expected = n < 3 ? Complex(10.0, 0.0) : Complex(10.0 - 2.0, -2.0 * (n - 2));
    EXPECT_EQ(out, expected) << "sample " << n;
  }
  delete_FD_ICA(ica);
}

TEST(FdIca, MeansFollowTheirRate) {
  FD_ICA* still = make(2, 1, 0.0, 0.0);
  FD_ICA* moving = make(2, 1, 0.0, 0.5);
  for (int i = 0; i < 20; ++i) {
    run_one(still, Complex(3.0, -1.0), Complex(2.0, 2.0));
  }
  EXPECT_EQ(still->out_mean_re, 0.0);
  EXPECT_EQ(still->out_mean_im, 0.0);
  EXPECT_EQ(still->ref_mean_re, 0.0);
  EXPECT_EQ(still->ref_mean_im, 0.0);

  run_one(moving, Complex(3.0, -1.0), Complex(2.0, 2.0));
  EXPECT_EQ(moving->out_mean_re, 1.5);
  EXPECT_EQ(moving->out_mean_im, -0.5);
  EXPECT_EQ(moving->ref_mean_re, 1.0);
  EXPECT_EQ(moving->ref_mean_im, 1.0);
  delete_FD_ICA(still);
  delete_FD_ICA(moving);
}

TEST(FdIca, ZeroCountChangesNothing) {
  FD_ICA* ica = make(3, 2);
  const FD_ICA before = *ica;
  std::srand(3);
  EXPECT_EQ(cancel_FD_ICA(ica, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(draws_made(3, std::rand()), 0);
  EXPECT_EQ(ica->pos, before.pos);
  EXPECT_EQ(ica->out_scale, before.out_scale);
  delete_FD_ICA(ica);
}

TEST(FdIca, ZeroFloorAdaptsOnZeroReference) {
  FD_ICA* ica = make(2, 1, 0.0);
  std::srand(9);
  run_one(ica, Complex(1.0, 0.0), Complex(0.0, 0.0));
  EXPECT_EQ(ica->pos, 1);
  EXPECT_EQ(draws_made(9, std::rand()), 2);
  delete_FD_ICA(ica);
}

TEST(FdIca, OutputMayAliasAnInput) {
  FD_ICA* separate = make(3, 1);
  FD_ICA* aliased = make(3, 1);
  std::mt19937 source(4);
  std::normal_distribution<double> normal;
  std::vector<double> mixture(64), reference(64);
  for (double& value : mixture) value = normal(source);
  for (double& value : reference) value = normal(source);

  std::vector<double> out(64);
  std::srand(21);
  cancel_FD_ICA(separate, mixture.data(), out.data(), reference.data(), 32);
  std::vector<double> in_place = mixture;
  std::srand(21);
  cancel_FD_ICA(aliased, in_place.data(), in_place.data(), reference.data(), 32);
  EXPECT_EQ(in_place, out);
  EXPECT_EQ(std::vector<double>(aliased->coef, aliased->coef + 6),
            std::vector<double>(separate->coef, separate->coef + 6));
  delete_FD_ICA(separate);
  delete_FD_ICA(aliased);
}

// The mixture holds the reference through a short complex filter plus an
// independent source; once adapted, the output keeps the source and little
// of the reference.
TEST(FdIca, CancelsFilteredReference) {
  const Complex filter[3] = {{0.9, -0.4}, {0.35, 0.25}, {-0.15, 0.1}};
  FD_ICA* ica = make(4, 1);
  std::mt19937 generator(2024);
  std::normal_distribution<double> normal;
  std::srand(1);

  const int total = 40000;
  const int measured = 5000;
  std::vector<Complex> reference(total);
  double leak_power = 0.0, residual_power = 0.0, source_power = 0.0;
  for (int n = 0; n < total; ++n) {
    reference[n] = Complex(normal(generator), normal(generator));
    // A sparse, speech-like source: mostly quiet, sometimes loud.
    const double gain = normal(generator) > 1.0 ? 1.0 : 0.1;
    const Complex source = gain * Complex(normal(generator), normal(generator));
    Complex leak = 0.0;
    for (int k = 0; k < 3 && k <= n; ++k) {
      leak += filter[k] * reference[n - k];
    }
    const Complex out = run_one(ica, leak + source, reference[n]);
    if (n >= total - measured) {
      leak_power += std::norm(leak);
      residual_power += std::norm(out - source);
      source_power += std::norm(source);
    }
  }
  for (int k = 0; k < 8; ++k) {
    EXPECT_TRUE(std::isfinite(ica->coef[k]));
  }
  const double before_db = 10.0 * std::log10(leak_power / source_power);
  const double after_db = 10.0 * std::log10(residual_power / source_power);
  RecordProperty("leak_to_source_db", std::to_string(before_db));
  RecordProperty("residual_to_source_db", std::to_string(after_db));
  EXPECT_LT(after_db, before_db - 20.0) << "before " << before_db << " dB, after " << after_db;
  delete_FD_ICA(ica);
}
