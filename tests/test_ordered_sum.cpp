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

#include "OrderedSum.h"

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

}  // namespace
