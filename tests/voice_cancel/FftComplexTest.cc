#include "voice_cancel/FftComplex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(FftComplex, ModulusAndComponents) {
  EXPECT_EQ(FftComplex(3, 4).abs(), 5.0);
  EXPECT_EQ(FftComplex(-3, -4).abs(), 5.0);
  EXPECT_EQ(FftComplex(0, 0).abs(), 0.0);
  // sqrt(re*re + im*im), not hypot: the square overflows here.
  EXPECT_TRUE(std::isinf(FftComplex(1e200, 0).abs()));

  const FftComplex bin(1.5, -2.25);
  EXPECT_EQ(bin[0], 1.5);
  EXPECT_EQ(bin[1], -2.25);
  EXPECT_EQ(&bin[0], &bin.re);
  EXPECT_EQ(&bin[1], &bin.im);
  EXPECT_EQ(sizeof(FftComplex), 2 * sizeof(double));
}

TEST(FftComplex, ConvertLogScale) {
  EXPECT_EQ(convert_log_scale(100, -1), 1.0);
  EXPECT_EQ(convert_log_scale(1000, 0.5), 3.5);
  EXPECT_EQ(convert_log_scale(1, 0), 0.0);
  EXPECT_EQ(convert_log_scale(0.5, 0), 0.0);
  EXPECT_EQ(convert_log_scale(-3, 5), 0.0);
  EXPECT_EQ(convert_log_scale(0, 5), 0.0);
  EXPECT_EQ(convert_log_scale(std::numeric_limits<double>::quiet_NaN(), 5), 0.0);
  EXPECT_EQ(convert_log_scale(10, std::log10(2.0)), std::log10(10.0) + std::log10(2.0));
}
