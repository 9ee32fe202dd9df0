#include "core/OrderedSum.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace QUORLAX {

namespace {

constexpr int kBlock = 128;

// Exponent of the lowest set bit of r > 0.
int lowBitExponent(double r) {
  std::uint64_t bits;
  std::memcpy(&bits, &r, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return -1074 + __builtin_ctzll(mantissa);
  mantissa |= std::uint64_t{1} << 52;
  return biased - 1075 + __builtin_ctzll(mantissa);
}

// A block in any order: its sum, and its smallest value.
void blockSum(const float* x, int n, double* sum, float* least) {
  int j = 0;
  double block = 0.0;
  float low = HUGE_VALF;
#if defined(__SSE2__)
  __m128d s01 = _mm_setzero_pd(), s23 = _mm_setzero_pd();
  __m128 low4 = _mm_set1_ps(HUGE_VALF);
  for (; j + 4 <= n; j += 4) {
    const __m128 v = _mm_loadu_ps(x + j);
    s01 = _mm_add_pd(s01, _mm_cvtps_pd(v));
    s23 = _mm_add_pd(s23, _mm_cvtps_pd(_mm_movehl_ps(v, v)));
    low4 = _mm_min_ps(v, low4);
  }
  double s[4];
  float l[4];
  _mm_storeu_pd(s, s01);
  _mm_storeu_pd(s + 2, s23);
  _mm_storeu_ps(l, low4);
  block = (s[0] + s[1]) + (s[2] + s[3]);
  low = std::min(std::min(l[0], l[1]), std::min(l[2], l[3]));
#endif
  for (; j < n; ++j) {
    block += x[j];
    low = x[j] < low ? x[j] : low;
  }
  *sum = block;
  *least = low;
}

// floor(log2 v) for v > 0.
int floatExponent(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>(bits >> 23) & 0xff;
  return biased != 0 ? biased - 127 : std::ilogb(v);
}

// floor(log2 r) for r > 0, normal.
int exponentOf(double r) {
  std::uint64_t bits;
  std::memcpy(&bits, &r, sizeof bits);
  return static_cast<int>((bits >> 52) & 0x7ff) - 1023;
}

}  // namespace

double RoughSum(const float* x, int n) {
  int j = 0;
  float sum = 0.0f;
#if defined(__SSE2__)
  __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
  for (; j + 8 <= n; j += 8) {
    a = _mm_add_ps(a, _mm_loadu_ps(x + j));
    b = _mm_add_ps(b, _mm_loadu_ps(x + j + 4));
  }
  float s[4];
  _mm_storeu_ps(s, _mm_add_ps(a, b));
  sum = (s[0] + s[1]) + (s[2] + s[3]);
#endif
  for (; j < n; ++j) sum += x[j];
  return sum;
}

double SumInOrder(double acc, const float* x, int n) {
  for (int i = 0; i < n;) {
    const int end = std::min(n, i + kBlock);
    // Whether any order is exact depends on the smallest value (a negative
    // one, or a zero among others, means one by one; not-a-number and
    // infinities show in the sum).
    double block;
    float least;
    blockSum(x + i, end - i, &block, &least);
    if (block <= DBL_MAX && acc >= 0.0 && acc <= DBL_MAX && !std::signbit(acc)) {
      if (block == 0.0 && least == 0.0f) {  // zeros only
        i = end;
        continue;
      }
      if (least > 0.0f) {
        int unit = floatExponent(least) - 23;  // every value is a whole multiple of 2^unit
        if (acc > 0.0) unit = std::min(unit, lowBitExponent(acc));
        const double total = acc + block;
        if (exponentOf(total * (1.0 + 0x1p-20)) < unit + 53) {
          acc = total;
          i = end;
          continue;
        }
      }
    }
    // Roundings: one by one.
    for (int j = i; j < end; ++j) acc += x[j];
    i = end;
  }
  return acc;
}

}  // namespace QUORLAX
