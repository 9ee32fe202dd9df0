#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "fftooura/fftsg.h"

namespace {

const double kPi = 3.14159265358979323846;

// Reference in the packed layout rdft produces.
std::vector<double> directDft(const std::vector<float>& x) {
  const int n = static_cast<int>(x.size());
  std::vector<double> out(n);
  for (int k = 0; k <= n / 2; ++k) {
    double re = 0.0, im = 0.0;
    for (int j = 0; j < n; ++j) {
      const double t = 2.0 * kPi * static_cast<double>((static_cast<long>(j) * k) % n) / n;
      re += x[j] * std::cos(t);
      im += x[j] * std::sin(t);
    }
    if (k == 0) out[0] = re;
    else if (k == n / 2) out[1] = re;
    else {
      out[2 * k] = re;
      out[2 * k + 1] = im;
    }
  }
  return out;
}

std::vector<float> transform(std::vector<float> a) {
  CFFTOoura fft;
  fft.rdft(static_cast<int>(a.size()), 1, a.data());
  return a;
}

class FftSize : public ::testing::TestWithParam<int> {};

TEST_P(FftSize, MatchesDirectDftOnRandomInput) {
  const int n = GetParam();
  for (unsigned seed : {1u, 77u, 2024u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& v : x) v = dist(rng);
    const std::vector<double> ref = directDft(x);
    const std::vector<float> got = transform(x);
    double errSq = 0.0, refSq = 0.0, maxErr = 0.0;
    for (int i = 0; i < n; ++i) {
      const double e = got[i] - ref[i];
      errSq += e * e;
      refSq += ref[i] * ref[i];
      maxErr = std::max(maxErr, std::fabs(e));
    }
    EXPECT_LE(std::sqrt(errSq / refSq), 1e-6);
    EXPECT_LE(maxErr, 1e-6 * n);
  }
}

TEST_P(FftSize, ImpulseGivesFlatSpectrum) {
  const int n = GetParam();
  std::vector<float> x(n, 0.0f);
  x[0] = 1.0f;
  const std::vector<float> y = transform(x);
  EXPECT_FLOAT_EQ(y[0], 1.0f);
  EXPECT_FLOAT_EQ(y[1], 1.0f);
  for (int k = 1; k < n / 2; ++k) {
    EXPECT_NEAR(y[2 * k], 1.0f, 1e-6f) << "k=" << k;
    EXPECT_NEAR(y[2 * k + 1], 0.0f, 1e-6f) << "k=" << k;
  }
}

TEST_P(FftSize, ConstantAndAlternatingLandOnTheEdgeBins) {
  const int n = GetParam();
  std::vector<float> ones(n, 1.0f), alt(n);
  for (int j = 0; j < n; ++j) alt[j] = (j % 2) ? -1.0f : 1.0f;
  const std::vector<float> a = transform(ones), b = transform(alt);
  EXPECT_FLOAT_EQ(a[0], n);
  EXPECT_NEAR(a[1], 0.0f, 1e-6f * n);
  EXPECT_FLOAT_EQ(b[1], n);
  EXPECT_NEAR(b[0], 0.0f, 1e-6f * n);
  for (int i = 2; i < n; ++i) {
    EXPECT_NEAR(a[i], 0.0f, 1e-5f * n) << "i=" << i;
    EXPECT_NEAR(b[i], 0.0f, 1e-5f * n) << "i=" << i;
  }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSize,
                         ::testing::Values(4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048));

class FftTone : public ::testing::TestWithParam<int> {};

// Cosine goes to the real slot, sine to the imaginary one with a plus sign.
TEST_P(FftTone, SingleToneHitsItsBinWithTheRightSign) {
  const int n = GetParam();
  const int bin = 5;
  std::vector<float> c(n), s(n);
  for (int j = 0; j < n; ++j) {
    const double t = 2.0 * kPi * bin * j / n;
    c[j] = static_cast<float>(std::cos(t));
    s[j] = static_cast<float>(std::sin(t));
  }
  const std::vector<float> yc = transform(c), ys = transform(s);
  const float tol = 1e-5f * n;
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(yc[i], i == 2 * bin ? n / 2.0f : 0.0f, tol) << "cos i=" << i;
    EXPECT_NEAR(ys[i], i == 2 * bin + 1 ? n / 2.0f : 0.0f, tol) << "sin i=" << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FftTone, ::testing::Values(16, 64, 512, 2048));

TEST(Fft, OtherDirectionsLeaveTheDataAlone) {
  std::vector<float> x = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::vector<float> before = x;
  CFFTOoura().rdft(8, -1, x.data());
  EXPECT_EQ(x, before);
}

}  // namespace
