// Sums in order: the same bits as adding one value at a time, whatever the
// values (wide ranges, zeros, denormals, runs that must round, not-a-number,
// infinities, negatives) and wherever the running sum starts.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/OrderedSum.h"

namespace {

double oneByOne(double acc, const std::vector<float>& x) {
  for (float v : x) acc += v;
  return acc;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct SumCase {
  const char* name;
  float decades;      // values spread over this many powers of ten
  float zeroShare;    // share of exact zeros
  float oddShare;     // share of NaN, infinity or negative values
  double start;       // running sum to start from
};

class OrderedSum : public ::testing::TestWithParam<SumCase> {};

TEST_P(OrderedSum, SameBitsAsOneByOne) {
  const SumCase c = GetParam();
  const unsigned seed = 1000u + static_cast<unsigned>(c.decades * 10 + c.zeroShare * 100 + c.oddShare * 1000);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float odd[] = {std::numeric_limits<float>::quiet_NaN(), HUGE_VALF, -1.5f, -0.0f, FLT_MAX, 1e-45f};
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 400);
    std::vector<float> x(n);
    const float scale = std::pow(10.0f, -20.0f + 40.0f * unit(rng));
    for (float& v : x) {
      const float r = unit(rng);
      if (r < c.zeroShare) v = 0.0f;
      else if (r < c.zeroShare + c.oddShare) v = odd[rng() % 6];
      else v = scale * std::pow(10.0f, -c.decades * unit(rng));
    }
    const double start = c.start < 0 ? scale * unit(rng) * 1000.0 : c.start;
    const double want = oneByOne(start, x), got = QUORLAX::SumInOrder(start, x.data(), n);
    ASSERT_TRUE(sameBits(want, got) || (std::isnan(want) && std::isnan(got)))
        << c.name << " seed " << seed << " trial " << trial << ": " << want << " vs " << got;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, OrderedSum,
    ::testing::Values(SumCase{"narrow", 2.0f, 0.0f, 0.0f, 0.0}, SumCase{"spectrum-like", 6.0f, 0.01f, 0.0f, 0.0},
                      SumCase{"rounding", 14.0f, 0.0f, 0.0f, 0.0}, SumCase{"zeros", 3.0f, 0.7f, 0.0f, 0.0},
                      SumCase{"running start", 4.0f, 0.05f, 0.0f, -1.0},
                      SumCase{"odd bits in the start", 3.0f, 0.0f, 0.0f, 1.0 + 0x1p-52},
                      SumCase{"denormals", 9.0f, 0.1f, 0.0f, 1e-40}, SumCase{"odd values", 4.0f, 0.0f, 0.02f, 0.0}),
    [](const ::testing::TestParamInfo<SumCase>& info) {
      std::string s = info.param.name;
      for (char& ch : s)
        if (ch == ' ' || ch == '-') ch = '_';
      return s;
    });

// A loud value, then a long tail far below it: nearly every addition rounds
// to the sum's grid, some of them exactly half way (ties go by the sum's
// last bit).
TEST(OrderedSumTail, RoundingsAndTiesAfterALoudValue) {
  const unsigned seed = 99u;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = 2 + static_cast<int>(rng() % 600);
    std::vector<float> x(n);
    const float loud = std::pow(2.0f, static_cast<float>(static_cast<int>(rng() % 40) - 20));
    x[0] = loud * (1.0f + unit(rng));
    const int kind = trial % 3;
    for (int j = 1; j < n; ++j) {
      if (kind == 0) {
        x[j] = loud * std::pow(10.0f, -4.0f - 8.0f * unit(rng));  // rounds, now and then across a binade
      } else {
        // Whole and half steps of the sum's grid (2^-52 of its binade), or near them.
        const float half = std::ldexp(static_cast<float>(2 * (rng() % 4000) + 1), -53) * loud;
        x[j] = kind == 1 ? half : std::nextafter(half, rng() % 2 ? 0.0f : 1.0f);
      }
    }
    const double start = trial % 2 ? 0.0 : static_cast<double>(loud) * (1.0 + 0x1p-50 * (rng() % 7));
    const double want = oneByOne(start, x), got = QUORLAX::SumInOrder(start, x.data(), n);
    ASSERT_TRUE(sameBits(want, got)) << "seed " << seed << " trial " << trial << ": " << want << " vs " << got;
  }
}

// Values that each round up to a whole step of the sum's grid (2^-52) carry
// a sum just below a power of two across it, although they add up to less
// than the distance.
TEST(OrderedSumTail, RoundingUpAcrossAPowerOfTwo) {
  for (int below = 1; below <= 200; ++below) {
    for (float frac : {0.5f, 0.6f, 0.75f, 0.999f}) {
      const double start = 2.0 - below * 0x1p-51;
      std::vector<float> x(64, frac * 0x1p-52f);
      const double want = oneByOne(start, x), got = QUORLAX::SumInOrder(start, x.data(), 64);
      ASSERT_TRUE(sameBits(want, got)) << below << " steps below 2, values of " << frac << " step";
    }
  }
}

}  // namespace
