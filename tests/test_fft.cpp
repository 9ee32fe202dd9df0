#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
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

using Kernel = CFFTOoura::Kernel;

std::vector<float> transform(std::vector<float> a, Kernel kernel = Kernel::kAuto) {
  CFFTOoura fft(kernel);
  fft.rdft(static_cast<int>(a.size()), 1, a.data());
  return a;
}

const char* nameOf(Kernel k) {
  return k == Kernel::kAvx2 ? "avx2" : (k == Kernel::kScalar ? "scalar" : "baseline");
}

// Every size on every kernel this machine runs.
class FftSize : public ::testing::TestWithParam<std::tuple<int, Kernel>> {
 protected:
  void SetUp() override {
    if (!CFFTOoura::KernelAvailable(kernel())) GTEST_SKIP() << nameOf(kernel()) << " kernel not on this CPU";
  }
  int size() const { return std::get<0>(GetParam()); }
  Kernel kernel() const { return std::get<1>(GetParam()); }
  std::vector<float> transform(std::vector<float> a) const { return ::transform(std::move(a), kernel()); }
};

TEST_P(FftSize, MatchesDirectDftOnRandomInput) {
  const int n = size();
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
  const int n = size();
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
  const int n = size();
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

// Energies against the direct DFT, windowed, the way the decoders use them.
TEST_P(FftSize, PowerSpectrumMatchesDirectDft) {
  const int n = size();
  if (n < 4) return;
  const unsigned seed = 31u * static_cast<unsigned>(n);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n), w(n), wx(n);
  for (int j = 0; j < n; ++j) {
    x[j] = dist(rng);
    w[j] = 0.5f + 0.5f * dist(rng);
    wx[j] = w[j] * x[j];
  }
  const std::vector<double> ref = directDft(wx);
  std::vector<float> power(n / 2 + 1);
  CFFTOoura(kernel()).powerSpectrum(n, x.data(), w.data(), power.data());
  double errSq = 0.0, refSq = 0.0;
  for (int k = 0; k <= n / 2; ++k) {
    const double re = k == 0 ? ref[0] : (k == n / 2 ? ref[1] : ref[2 * k]);
    const double im = k == 0 || k == n / 2 ? 0.0 : ref[2 * k + 1];
    const double e = power[k] - (re * re + im * im);
    errSq += e * e;
    refSq += (re * re + im * im) * (re * re + im * im);
  }
  EXPECT_LE(std::sqrt(errSq / refSq), 2e-6);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSize,
                         ::testing::Combine(::testing::Values(4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096),
                                            ::testing::Values(Kernel::kBaseline, Kernel::kAvx2, Kernel::kScalar)),
                         [](const ::testing::TestParamInfo<FftSize::ParamType>& info) {
                           return std::to_string(std::get<0>(info.param)) + "_" + nameOf(std::get<1>(info.param));
                         });

// The kernels do the same arithmetic lane by lane: the decoders' results must
// not depend on the CPU they run on.
TEST(FftKernels, GiveTheSameBits) {
  for (Kernel other : {Kernel::kAvx2, Kernel::kScalar}) {
    if (!CFFTOoura::KernelAvailable(other)) continue;
    CFFTOoura base(Kernel::kBaseline), wide(other);
    for (int n = 4; n <= CFFTOoura::kMaxN; n *= 2) {
      for (unsigned seed : {3u, 4u, 5u}) {
        SCOPED_TRACE(std::string(nameOf(other)) + " n " + std::to_string(n) + " seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        // Tiny and huge values too: the same bits, denormals and all.
        const float scale = seed == 4u ? 1e-22f : (seed == 5u ? 1e17f : 1.0f);
        std::vector<float> x(n), w(n);
        for (float& v : x) v = scale * dist(rng);
        for (float& v : w) v = dist(rng);
        std::vector<float> a = x, b = x;
        base.rdft(n, 1, a.data());
        wide.rdft(n, 1, b.data());
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), sizeof(float) * n)) << "rdft";
        std::vector<float> pa(n / 2 + 1), pb(n / 2 + 1);
        base.powerSpectrum(n, x.data(), w.data(), pa.data());
        wide.powerSpectrum(n, x.data(), w.data(), pb.data());
        EXPECT_EQ(0, std::memcmp(pa.data(), pb.data(), sizeof(float) * pa.size())) << "power";
      }
    }
  }
}

// kAuto runs the widest kernel this processor has: AVX2 where x86-64 offers
// it, else the 4-lane one (SSE2, NEON on aarch64, simd128). The one-lane
// kernel is for processors without vectors, which run no test programs.
TEST(FftKernels, AutoIsTheWidestThisProcessorRuns) {
  CFFTOoura fft;
  EXPECT_EQ(fft.Width(2048), CFFTOoura::KernelAvailable(Kernel::kAvx2) ? 8 : 4);
  EXPECT_EQ(CFFTOoura(Kernel::kScalar).Width(2048), 1);
  EXPECT_EQ(CFFTOoura(Kernel::kScalar).Width(32), 4) << "sizes below 64 go to the 4-lane kernel";
}

// Planned bins get exactly powerSpectrum's values where the plan puts them,
// and row places outside the plan are never written.
TEST(FftBins, PlannedBinsMatchThePowerSpectrum) {
  const float kUntouched = -7.0f;
  for (Kernel k : {Kernel::kBaseline, Kernel::kAvx2, Kernel::kScalar}) {
    if (!CFFTOoura::KernelAvailable(k)) continue;
    CFFTOoura fft(k);
    for (int n : {64, 128, 256, 1024, 2048, 4096}) {
      const int half = n / 2;
      for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(std::string(nameOf(k)) + " n " + std::to_string(n) + " seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
        std::vector<float> x(n), w(n);
        for (float& v : x) v = dist(rng);
        for (float& v : w) v = dist(rng);
        std::vector<float> full(half + 1);
        fft.powerSpectrum(n, x.data(), w.data(), full.data());
        // Up to three ranges, each with its margins, laid out one after another
        // with a gap between them.
        std::vector<int> offsets(half + 1, -1);
        std::vector<bool> wanted(half + 1, false);
        int place = 5;
        const int ranges = 1 + static_cast<int>(rng() % 3);
        for (int r = 0; r < ranges; ++r) {
          const int lo = static_cast<int>(rng() % (half + 1));
          const int hi = std::min(half, lo + static_cast<int>(rng() % 40));
          for (int b = lo; b <= hi; ++b) wanted[b] = true;
        }
        for (int b = 0; b <= half; ++b) {
          bool nearWanted = false;
          for (int d = -CFFTOoura::kBinMargin; d <= CFFTOoura::kBinMargin; ++d)
            nearWanted |= b + d >= 0 && b + d <= half && wanted[b + d];
          if (nearWanted) {
            offsets[b] = place++;
          } else if (b > 0 && offsets[b - 1] >= 0) {
            place += 3;
          }
        }
        fft.PlanBins(n, offsets.data());
        std::vector<float> row(place + 5, kUntouched);
        fft.powerBins(x.data(), w.data(), row.data());
        for (int b = 0; b <= half; ++b) {
          if (wanted[b]) {
            EXPECT_EQ(row[offsets[b]], full[b]) << "bin " << b;
          }
        }
        std::vector<bool> placed(row.size(), false);
        for (int b = 0; b <= half; ++b)
          if (offsets[b] >= 0) placed[offsets[b]] = true;
        for (size_t i = 0; i < row.size(); ++i) {
          if (!placed[i]) {
            EXPECT_EQ(row[i], kUntouched) << "row place " << i;
          }
        }
      }
    }
  }
}

// A frame read where it lies in a ring (wrapping at any hop) gives
// powerSpectrum's bits for the same samples, on every kernel, in the
// transform's own work memory.
TEST(FftRing, WrappedFramesMatchThePowerSpectrum) {
  for (Kernel k : {Kernel::kBaseline, Kernel::kAvx2, Kernel::kScalar}) {
    if (!CFFTOoura::KernelAvailable(k)) continue;
    for (int n : {64, 256, 1024, 2048}) {
      CFFTOoura fft(k);
      std::vector<float> tables(CFFTOoura::TableFloats(n));
      fft.PrepareIn(n, tables.data());
      std::mt19937 rng(static_cast<unsigned>(n));
      std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
      std::vector<float> ring(n), w(n);
      for (float& v : ring) v = dist(rng);
      for (float& v : w) v = dist(rng);
      for (int start = 0; start < n; start += 16) {
        SCOPED_TRACE(std::string(nameOf(k)) + " n " + std::to_string(n) + " start " + std::to_string(start));
        std::vector<float> linear(ring.begin() + start, ring.end());
        linear.insert(linear.end(), ring.begin(), ring.begin() + start);
        std::vector<float> expected(n / 2 + 1);
        fft.powerSpectrum(n, linear.data(), w.data(), expected.data());
        const CFFTOoura::Frame frame{ring.data() + start, n - start, ring.data()};
        const float* got = fft.powerSpectrumOfFrame(frame, w.data());
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(0, std::memcmp(got, expected.data(), sizeof(float) * expected.size()));
      }
    }
  }
  CFFTOoura small;
  small.Prepare(32);
  EXPECT_EQ(small.powerSpectrumOfFrame({nullptr, 32, nullptr}, nullptr), nullptr) << "below 64 points";
  // A split that would cut a vector load, or lies outside the frame, is refused.
  CFFTOoura fft;
  fft.Prepare(256);
  std::vector<float> ring(256, 1.0f);
  for (int split : {8, 100, 0, -16, 272})
    EXPECT_EQ(fft.powerSpectrumOfFrame({ring.data(), split, ring.data()}, nullptr), nullptr) << split;
  EXPECT_NE(fft.powerSpectrumOfFrame({ring.data(), 256, ring.data()}, nullptr), nullptr);
}

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
