// The listener's single-precision arithmetic: its logarithm, exponential,
// sine and cosine against libm, its sums, its 16-bit floats, and its window
// against the runtime formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/AnalysisWindow.h"
#include "core/ListenerWindow.h"
#include "core/SingleMath.h"

using namespace QUORLAX;

namespace {

// Within 3 units in the last place of libm's double logarithm, over every
// binade (subnormals included) and densely around 1, where dB values cross 0.
TEST(SingleMath, LogIsWithinThreeUlps) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(1.0f, 2.0f);
  std::vector<float> xs;
  for (int e = -149; e <= 127; ++e)
    for (int i = 0; i < 40; ++i) xs.push_back(std::ldexp(unit(rng), e));
  for (int i = -2000; i <= 2000; ++i) xs.push_back(1.0f + i * 1e-6f);
  xs.push_back(FLT_MAX);
  xs.push_back(FLT_MIN);
  for (float x : xs) {
    if (!(x > 0.0f) || !std::isfinite(x)) continue;
    const double exact = std::log(static_cast<double>(x));
    const float got = single::Log(x);
    const double ulp = std::max(static_cast<double>(std::nextafter(std::fabs(static_cast<float>(exact)), HUGE_VALF)) -
                                    std::fabs(static_cast<float>(exact)),
                                static_cast<double>(FLT_MIN) * FLT_EPSILON);
    ASSERT_LE(std::fabs(got - exact), 3.0 * ulp + 1e-12) << std::hexfloat << x;
  }
}

// Monotonic where a ranking compares: larger quotients never read fewer dB.
TEST(SingleMath, DbNeverFallsAsTheQuotientRises) {
  float previous = single::Db20(1e-30f);
  for (float q = 1e-30f; q < 1e30f; q = std::nextafter(q * 1.0001f, HUGE_VALF)) {
    const float db = single::Db20(q);
    ASSERT_GE(db, previous) << std::hexfloat << q;
    previous = db;
  }
}

TEST(SingleMath, EdgeCasesAsLibm) {
  const struct {
    float x, db10, db20;
  } table[] = {{1.0f, 0.0f, 0.0f},      {10.0f, 10.0f, 20.0f},    {100.0f, 20.0f, 40.0f},
               {0.0f, -HUGE_VALF, -HUGE_VALF}, {HUGE_VALF, HUGE_VALF, HUGE_VALF}};
  for (const auto& t : table) {
    if (std::isinf(t.db10)) {
      EXPECT_EQ(single::Db10(t.x), t.db10) << t.x;
      EXPECT_EQ(single::Db20(t.x), t.db20) << t.x;
    } else {
      EXPECT_NEAR(single::Db10(t.x), t.db10, 2e-6f) << t.x;
      EXPECT_NEAR(single::Db20(t.x), t.db20, 4e-6f) << t.x;
    }
  }
  EXPECT_TRUE(std::isnan(single::Db10(-1.0f)));
  EXPECT_TRUE(std::isnan(single::Db20(NAN)));
  EXPECT_TRUE(std::isnan(single::Db20(-0.5f)));
}

// Whole numbers up to 2^24 add exactly in any order: the fixed order must
// still see every value, tails and all.
TEST(SingleMath, SumSeesEveryValue) {
  for (int n : {0, 1, 7, 8, 9, 300, 1025}) {
    std::vector<float> x(static_cast<size_t>(n));
    float exact = 0.0f;
    for (int i = 0; i < n; ++i) exact += x[static_cast<size_t>(i)] = static_cast<float>(i % 97);
    EXPECT_EQ(single::Sum(x.data(), n), exact) << n;
  }
  const float poisoned[] = {1.0f, 2.0f, NAN, 3.0f};
  EXPECT_TRUE(std::isnan(single::Sum(poisoned, 4)));
}

// e^x within a few units in the last place of libm's double exponential
// over the range the listener's floors and decisions use, and its edges.
TEST(SingleMath, ExpIsWithinFourUlps) {
  for (float x = -80.0f; x < 80.0f; x += 0.0137f) {
    const double exact = std::exp(static_cast<double>(x));
    const double ulp = std::nextafter(static_cast<float>(exact), HUGE_VALF) - static_cast<float>(exact);
    ASSERT_LE(std::fabs(single::Exp(x) - exact), 4.0 * ulp) << x;
  }
  EXPECT_EQ(single::Exp(0.0f), 1.0f);
  EXPECT_EQ(single::Exp(-100.0f), 0.0f);
  EXPECT_EQ(single::Exp(100.0f), HUGE_VALF);
  EXPECT_TRUE(std::isnan(single::Exp(NAN)));
}

// Cosine and sine together within 2e-7 near the origin, and within the
// reduction's error (|x| times float's spacing) far out, where the
// listener's tone banks turn phases by thousands of radians.
TEST(SingleMath, CosSinAsLibm) {
  for (float x = -20000.0f; x < 20000.0f; x += 0.731f) {
    float c, s;
    single::CosSin(x, &c, &s);
    const double tolerance = 2e-7 + std::fabs(x) * 6e-8;
    ASSERT_NEAR(c, std::cos(static_cast<double>(x)), tolerance) << x;
    ASSERT_NEAR(s, std::sin(static_cast<double>(x)), tolerance) << x;
  }
  float c, s;
  single::CosSin(0.0f, &c, &s);
  EXPECT_EQ(c, 1.0f);
  EXPECT_EQ(s, 0.0f);
}

// 16 bits of a float: rounded to the nearest of 8 significant bits (within
// 2^-8 relative), order kept, and infinities and not-a-number as they were.
TEST(SingleMath, Pack16RoundsToTheNearest) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> unit(1.0f, 2.0f);
  float previous = 0.0f;
  for (int e = -120; e <= 120; ++e) {
    const float x = std::ldexp(unit(rng), e);
    const float back = single::Unpack16(single::Pack16(x));
    ASSERT_LE(std::fabs(back - x), x * 0x1p-8f) << std::hexfloat << x;
    ASSERT_GE(back, previous);
    previous = back;
  }
  EXPECT_EQ(single::Unpack16(single::Pack16(1.0f + 0x1p-8f)), 1.0f);  // a tie goes to even
  EXPECT_EQ(single::Unpack16(single::Pack16(1.0f + 0x1p-8f + 0x1p-20f)), 1.0f + 0x1p-7f);
  EXPECT_EQ(single::Unpack16(single::Pack16(1.0f + 3 * 0x1p-8f)), 1.0f + 0x1p-6f);  // the other tie, up to even
  EXPECT_EQ(single::Unpack16(single::Pack16(HUGE_VALF)), HUGE_VALF);
  // The largest finite floats stay finite rather than round up to infinity.
  const float largest = single::Unpack16(single::Pack16(FLT_MAX));
  EXPECT_TRUE(std::isfinite(largest));
  EXPECT_GE(largest, FLT_MAX * (1.0f - 0x1p-8f));
  EXPECT_TRUE(std::isnan(single::Unpack16(single::Pack16(NAN))));
  EXPECT_EQ(single::Unpack16(single::Pack16(0.0f)), 0.0f);
}

// The compiler's tables are the window the formula gives with cosines
// rounded from libm's double precision.
TEST(ListenerWindowTable, SameAsTheFormulaAtRunTime) {
  for (int n : {1024, 2048}) {
    std::vector<float> w(static_cast<size_t>(n));
    FillAnalysisWindow(w.data(), n, [](float x) { return static_cast<float>(std::cos(static_cast<double>(x))); });
    ASSERT_NE(ListenerWindow(n), nullptr);
    EXPECT_EQ(0, std::memcmp(w.data(), ListenerWindow(n), sizeof(float) * w.size())) << n;
  }
  EXPECT_EQ(ListenerWindow(512), nullptr);
  EXPECT_EQ(ListenerWindow(4096), nullptr);
}

}  // namespace
