#include <gtest/gtest.h>

#include <cmath>

#include "voice_cancel/FD_ICA.h"

namespace {
int next_draw = 0;
}

// Replaces the C library's generator in this program only.
extern "C" int rand(void) { return next_draw; }

// A zero output with a zero draw would divide 0 by 0; the taps must stay
// finite and the step must leave them where they were.
TEST(FdIcaZeroDraw, ZeroOutputAndZeroDrawLeaveTapsFinite) {
  next_draw = 0;
  FD_ICA* ica = new_FD_ICA(3, 1, 1.0, 1.0, 0.01, 0.01, 0.01, 0.0, 0.0);
  ASSERT_NE(ica, nullptr);
  const double zero[2] = {0.0, 0.0};
  const double reference[2] = {1.0, -2.0};
  double out[2];
  for (int i = 0; i < 4; ++i) {
    cancel_FD_ICA(ica, zero, out, reference, 1);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.0);
  }
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(ica->coef[k], 0.0) << k;
  }
  // g * t is 0, so the output scale grows by its rate each sample.
  double expected_scale = 1.0;
  for (int i = 0; i < 4; ++i) {
    expected_scale = std::fabs(expected_scale + ((1.0 - 0.0 * 0.0) * 0.01) * expected_scale);
  }
  EXPECT_EQ(ica->out_scale, expected_scale);
  EXPECT_TRUE(std::isfinite(ica->ref_scale));
  EXPECT_EQ(ica->pos, 4 & ica->ring_mask);

  // A non-zero draw with zero output: t is the draw and phi is 0 still.
  next_draw = 2147483647;
  cancel_FD_ICA(ica, zero, out, reference, 1);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(ica->coef[k], 0.0) << k;
  }
  delete_FD_ICA(ica);
}
