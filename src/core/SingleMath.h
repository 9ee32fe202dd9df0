// Single-precision arithmetic with the same bits on every processor: IEEE
// operations in a fixed order and no libm (whose last bits differ between
// libraries, builds and CPUs). The listener's per-hop path uses these, so a
// microcontroller with a single-precision FPU hears exactly what a desktop
// hears, and never spends its time emulating double precision.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// Loops that pack and unpack samples and levels run on AVX2 where an x86-64
// processor has it (picked at load time; the same bits: no fused or
// approximate arithmetic in them), elsewhere as compiled.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(QUORLAX_HARDENED)
#define QUORLAX_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUORLAX_VECTOR_CLONES
#endif

namespace QUORLAX {
namespace single {

// Natural logarithm of a finite x > 0, within a few units in the last place.
inline float Log(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  int exponent = 0;
  if (bits < 0x00800000u) {  // subnormal: scale into the normal range first
    x *= 16777216.0f;
    std::memcpy(&bits, &x, sizeof bits);
    exponent = -24;
  }
  exponent += static_cast<int>(bits >> 23) - 127;
  bits = (bits & 0x007fffffu) | 0x3f800000u;
  float m;  // x = m 2^exponent, m in [sqrt(1/2), sqrt(2))
  std::memcpy(&m, &bits, sizeof m);
  if (m > 1.41421354f) {
    m *= 0.5f;
    ++exponent;
  }
  // ln m = 2 atanh(s) with s = (m - 1) / (m + 1), |s| < 0.172: the odd series
  // to s^11 leaves less than 1e-9.
  const float s = (m - 1.0f) / (m + 1.0f);
  const float z = s * s;
  const float series =
      1.0f + z * (1.0f / 3 + z * (1.0f / 5 + z * (1.0f / 7 + z * (1.0f / 9 + z * (1.0f / 11)))));
  // ln 2 in two parts; the first has few enough bits that e times it is exact.
  const float e = static_cast<float>(exponent);
  return (e * 1.42860677e-06f + 2.0f * s * series) + e * 0.693145752f;
}

// 10 log10(x) and 20 log10(x), as libm's log10 answers the edge cases: -inf
// for 0, +inf for +inf, not a number for NaN and negative x.
inline float Db10(float x) {
  if (!(x > 0.0f) || x == HUGE_VALF) return x == 0.0f ? -HUGE_VALF : (x == HUGE_VALF ? x : NAN);
  return Log(x) * 4.34294462f;
}
inline float Db20(float x) {
  if (!(x > 0.0f) || x == HUGE_VALF) return x == 0.0f ? -HUGE_VALF : (x == HUGE_VALF ? x : NAN);
  return Log(x) * 8.68588924f;
}

// x rounded to the nearest integer (halves away from zero), for |x| < 2^31.
inline int Round(float x) { return static_cast<int>(x + (x >= 0.0f ? 0.5f : -0.5f)); }

// e^x within a few units in the last place; 0 below about -87, +inf from 88.
inline float Exp(float x) {
  if (!(x < 88.0f)) return x != x ? x : HUGE_VALF;
  if (x < -87.3f) return 0.0f;
  // x = n ln 2 + r with |r| <= ln 2 / 2, ln 2 in two parts as in Log.
  const int n = Round(x * 1.44269502f);
  const float e = static_cast<float>(n);
  const float r = (x - e * 0.693145752f) - e * 1.42860677e-06f;
  const float p =
      1.0f + r * (1.0f + r * (0.5f + r * (1.0f / 6 + r * (1.0f / 24 + r * (1.0f / 120 + r * (1.0f / 720))))));
  const std::uint32_t bits = static_cast<std::uint32_t>(n + 127) << 23;
  float scale;
  std::memcpy(&scale, &bits, sizeof scale);
  return p * scale;
}

// cos x and sin x for |x| up to about 1e5, within about 1e-7 of each plus
// |x| times float's spacing (the reduction's error).
inline void CosSin(float x, float* c, float* s) {
  // x = q pi/2 + r, |r| <= pi/4, pi/2 in three parts so q pi/2 is nearly exact.
  const int q = Round(x * 0.636619747f);
  const float k = static_cast<float>(q);
  const float r = ((x - k * 1.5703125f) - k * 4.83751297e-04f) - k * 7.54978995e-08f;
  const float z = r * r;
  const float sr = r * (1.0f - z * (1.0f / 6 - z * (1.0f / 120 - z * (1.0f / 5040 - z * (1.0f / 362880)))));
  const float cr = 1.0f - z * (0.5f - z * (1.0f / 24 - z * (1.0f / 720 - z * (1.0f / 40320 - z * (1.0f / 3628800)))));
  switch (q & 3) {
    case 0: *c = cr; *s = sr; break;
    case 1: *c = -sr; *s = cr; break;
    case 2: *c = -cr; *s = -sr; break;
    default: *c = sr; *s = -cr; break;
  }
}

// A float in 16 bits: its upper half, rounded to the nearest (8 significant
// bits, within 0.4 %; infinities and not-a-number kept), and back.
inline std::uint16_t Pack16(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  // Without branches, so loops of it run on vectors.
  const std::uint32_t rounded = bits + 0x7fffu + ((bits >> 16) & 1u);
  const bool keep = (bits & 0x7fffffffu) >= 0x7f7f8000u;  // rounding would reach the top exponent
  return static_cast<std::uint16_t>((keep ? bits : rounded) >> 16);
}
inline float Unpack16(std::uint16_t h) {
  const std::uint32_t bits = static_cast<std::uint32_t>(h) << 16;
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// A level of 0 or more in 8 bits: 3 bits of significand and a power of two
// from 2^-15 to 2^15 (rounded to the nearest, within 1/16 relative), 0 for
// less (and for not-a-number), the top code (61440) for more. For levels relative
// to a band's mean, where a tone's detail below 2^-15 of it says nothing.
inline std::uint8_t Pack8(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  // Exponent and the upper 3 significand bits, rounded half up; 2^-15 is code 8.
  const int code = static_cast<int>((bits + (1u << 19)) >> 20) - ((127 - 15) << 3) + 8;
  const bool positive = x > 0.0f;  // false for not-a-number too
  return static_cast<std::uint8_t>(!positive || code < 8 ? 0 : code > 255 ? 255 : code);
}
inline float Unpack8(std::uint8_t code) {
  const std::uint32_t bits = (static_cast<std::uint32_t>(code) - 8 + ((127 - 15) << 3)) << 20;
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return code == 0 ? 0.0f : x;
}

// x[0] + ... + x[n-1] in eight running sums joined pairwise: a fixed order,
// so the same bits everywhere (compilers may put the eight in vector lanes,
// which keeps the order).
inline float Sum(const float* x, int n) {
  float lane[8] = {};
  int i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; ++k) lane[k] += x[i + k];
  for (int k = 0; i < n; ++i, ++k) lane[k] += x[i];
  return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

}  // namespace single
}  // namespace QUORLAX
