#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "SpectralAnalysis.h"

using QUORLAX::kEnergySpectrum;
using QUORLAX::kMagnitudeSpectrum;
using QUORLAX::SpectralAnalysis;

namespace {

const float kSentinel = -12345.0f;

struct WindowCase {
  int size;
  float peak;
};

class Window : public ::testing::TestWithParam<WindowCase> {};

TEST_P(Window, SumsToTwoIsSymmetricAndPeaksAsCalibrated) {
  const WindowCase c = GetParam();
  SpectralAnalysis sa(kEnergySpectrum, c.size, c.size, c.size / 2);
  const float* w = sa.mWindow;
  double sum = 0.0;
  for (int i = 0; i < c.size; ++i) sum += w[i];
  EXPECT_NEAR(sum, 2.0, 1e-4);
  EXPECT_NEAR(w[0], 0.0f, 1e-7f);
  EXPECT_NEAR(w[c.size - 1], 0.0f, 1e-7f);
  for (int i = 0; i < c.size / 2; ++i) EXPECT_NEAR(w[i], w[c.size - 1 - i], 1e-4f * c.peak) << i;
  EXPECT_NEAR(*std::max_element(w, w + c.size), c.peak, 1e-6f);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Window,
                         ::testing::Values(WindowCase{2048, 0.0019125f}, WindowCase{256, 0.0153519f}));

// Frame of a sine centred on `bin`, amplitude 1.
std::vector<float> tone(int n, int bin) {
  std::vector<float> x(n);
  for (int j = 0; j < n; ++j) x[j] = static_cast<float>(std::sin(2.0 * M_PI * bin * j / n));
  return x;
}

TEST(Spectral, ZeroFrameGivesZeroSpectrum) {
  SpectralAnalysis sa(kMagnitudeSpectrum, 512, 512, 256);
  std::vector<float> in(512, 0.0f), mag(257, 1.0f), im(257, 1.0f);
  sa.doFFT(in.data(), mag.data(), im.data());
  for (int k = 0; k < 257; ++k) {
    EXPECT_EQ(mag[k], 0.0f) << k;
    EXPECT_EQ(im[k], 0.0f) << k;
  }
}

TEST(Spectral, ConstantFrameLandsInDc) {
  for (auto mode : {kEnergySpectrum, kMagnitudeSpectrum}) {
    SpectralAnalysis sa(mode, 2048, 2048, 1024);
    std::vector<float> in(2048, 1.0f), mag(1025);
    sa.doFFT(in.data(), mag.data(), nullptr);
    EXPECT_NEAR(mag[0], mode == kEnergySpectrum ? 4.0f : 2.0f, 1e-3f);
    // The window's far sidelobes keep bin 10 small but not zero.
    EXPECT_LT(mag[10], mode == kEnergySpectrum ? 1e-8f : 1e-4f);
  }
}

TEST(Spectral, BinCentredSineLevelsInBothModes) {
  const int n = 2048;
  const std::vector<float> in = tone(n, 100);
  SpectralAnalysis e(kEnergySpectrum, n, n, n / 2), m(kMagnitudeSpectrum, n, n, n / 2);
  std::vector<float> en(n / 2 + 1), mg(n / 2 + 1), im(n / 2 + 1);
  std::vector<float> scratch = in;  // doFFT must not need the input afterwards
  e.doFFT(scratch.data(), en.data(), nullptr);
  m.doFFT(scratch.data(), mg.data(), im.data());
  EXPECT_NEAR(en[100], 1.0f, 2e-3f);
  EXPECT_NEAR(mg[100], 1.0f, 2e-3f);
  EXPECT_NEAR(en[99], 0.2295f, 1e-3f);
  EXPECT_NEAR(en[101], 0.2295f, 1e-3f);
  EXPECT_NEAR(mg[99], 0.479f, 1e-3f);
  EXPECT_NEAR(mg[101], 0.479f, 1e-3f);
  EXPECT_LT(en[110], 1e-6f);
  // A sine reads as a negative imaginary part once the sign is flipped.
  EXPECT_NEAR(im[100], -1.0f, 2e-3f);
  EXPECT_EQ(im[0], 0.0f);
  EXPECT_EQ(im[n / 2], 0.0f);
  for (int k = 0; k <= n / 2; ++k) EXPECT_NEAR(mg[k] * mg[k], en[k], 1e-5f + 1e-4f * en[k]) << k;
}

TEST(Spectral, RandomFrameMagnitudeIsRootOfEnergy) {
  const unsigned seed = 4321;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> in(1024);
  for (float& v : in) v = dist(rng);
  SpectralAnalysis e(kEnergySpectrum, 1024, 1024, 512), m(kMagnitudeSpectrum, 1024, 1024, 512);
  std::vector<float> en(513), mg(513);
  e.doFFT(in.data(), en.data(), nullptr);
  m.doFFT(in.data(), mg.data(), nullptr);
  for (int k = 0; k <= 512; ++k) EXPECT_NEAR(mg[k], std::sqrt(en[k]), 1e-5f * (1.0f + mg[k])) << k;
}

class Written : public ::testing::TestWithParam<int> {};

TEST_P(Written, ExactlyHalfPlusOneValues) {
  const int n = GetParam();
  SpectralAnalysis sa(kEnergySpectrum, n, n, n / 2);
  EXPECT_EQ(sa.mSpecSize, n / 2 + 1);
  std::vector<float> in = tone(n, n / 8), mag(n / 2 + 4, kSentinel), im(n / 2 + 4, kSentinel);
  sa.doFFT(in.data(), mag.data(), im.data());
  for (int k = 0; k <= n / 2; ++k) EXPECT_NE(mag[k], kSentinel) << k;
  for (int k = n / 2 + 1; k < n / 2 + 4; ++k) {
    EXPECT_EQ(mag[k], kSentinel) << k;
    EXPECT_EQ(im[k], kSentinel) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Written, ::testing::Values(2048, 1024, 512, 256));

}  // namespace
