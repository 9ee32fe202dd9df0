// Real-input FFT, single precision, in place, without tables or allocation.
//
// rdft(n, 1, a) with n a power of two (n >= 2) leaves
//   a[0]    = sum_j a[j]
//   a[1]    = sum_j a[j] * (-1)^j
//   a[2k]   = sum_j a[j] * cos(2*pi*j*k/n)   0 < k < n/2
//   a[2k+1] = sum_j a[j] * sin(2*pi*j*k/n)   0 < k < n/2
// unscaled. The n real samples are taken as n/2 complex values, transformed
// by a radix-4 decimation-in-frequency FFT with a positive exponent, put
// back in natural order, then split into the spectrum of the real signal.
// Only the forward direction exists; any other isgn leaves `a` untouched.
//
// Twiddles come from short rotation recurrences re-anchored with exact
// sinf/cosf (see Sweep), so their drift stays within a few ulps.
#pragma once

#include <cmath>

class CFFTOoura {
 public:
  CFFTOoura() {}
  ~CFFTOoura() {}

  void rdft(int n, int isgn, float* a) {
    if (isgn != 1 || n < 2 || (n & (n - 1)) != 0 || a == nullptr) return;
    const int m = n >> 1;
    if (m > 1) cftfsub(m, a);
    rftfsub(n, a);
  }

  // Complex FFT of m interleaved values, exponent +2*pi*i*j*k/m, natural
  // order out.
  void cftfsub(int m, float* a) {
    int len = m;
    for (; len >= 32; len >>= 2) radix4Twiddled(m, len, a);
    switch (len) {
      case 16: tail16(m, a); break;
      case 8: tail8(m, a); break;
      case 4: radix4Last(m, a); break;
      case 2: radix2Last(m, a); break;
      default: break;
    }
    bitrv2(m, a);
  }

  // Turns the half-length complex spectrum Z into the real spectrum:
  // X[k] = E[k] + W^k O[k], X[m-k] = conj(E[k] - W^k O[k]), W = e^{2 pi i/n}.
  // X[m/2] equals Z[m/2], so that pair stays as it is.
  void rftfsub(int n, float* a) {
    const int m = n >> 1;
    const float z0r = a[0], z0i = a[1];
    a[0] = z0r + z0i;
    a[1] = z0r - z0i;
    const int half = m >> 1;
    if (half < 2) return;
    Sweep sweep(n);
    float wr[kBatch], wi[kBatch];
    for (int k0 = 0; k0 < half; k0 += kBatch) {
      const int cnt = half - k0 < kBatch ? half - k0 : kBatch;
      sweep.fill(k0, cnt, wr, wi);
      for (int t = (k0 == 0 ? 1 : 0); t < cnt; ++t) {
        float* p = a + 2 * (k0 + t);
        float* r = a + 2 * (m - k0 - t);
        const float er = 0.5f * (p[0] + r[0]);
        const float ei = 0.5f * (p[1] - r[1]);
        const float orr = 0.5f * (p[1] + r[1]);
        const float oi = 0.5f * (r[0] - p[0]);
        const float tr = wr[t] * orr - wi[t] * oi;
        const float ti = wr[t] * oi + wi[t] * orr;
        p[0] = er + tr;
        p[1] = ei + ti;
        r[0] = er - tr;
        r[1] = ti - ei;
      }
    }
  }

  // Bit-reversal permutation of m interleaved complex values. With
  // i = hi*2S + mid*S + lo (mid present only for odd bit counts) the
  // reversed index is rev(lo)*2S + mid*S + rev(hi), so looping hi below
  // rev(lo) visits every swapped pair once and no fixed point.
  void bitrv2(int m, float* a) {
    if (m < 4) return;
    int bits = 0;
    while ((1 << bits) < m) ++bits;
    const int lowBits = bits >> 1;
    const int s = 1 << lowBits;
    const int mids = (bits & 1) ? 2 : 1;
    const int hiStride = s * mids;
    int rev[kMaxRevHalf];
    rev[0] = 0;
    for (int i = 1, j = 0; i < s; ++i) {
      int bit = s >> 1;
      while (j & bit) {
        j ^= bit;
        bit >>= 1;
      }
      j |= bit;
      rev[i] = j;
    }
    for (int mid = 0; mid < mids; ++mid) {
      for (int lo = 0; lo < s; ++lo) {
        const int rlo = rev[lo];
        for (int hi = 0; hi < rlo; ++hi) {
          float* p = a + 2 * (hi * hiStride + mid * s + lo);
          float* q = a + 2 * (rlo * hiStride + mid * s + rev[hi]);
          const float xr = p[0], xi = p[1];
          p[0] = q[0];
          p[1] = q[1];
          q[0] = xr;
          q[1] = xi;
        }
      }
    }
  }

 private:
  static constexpr int kGroup = 8;      // twiddles per anchor product
  static constexpr int kReanchor = 8;   // groups between exact anchors
  static constexpr int kBatch = 256;    // twiddles held on the stack at once
  static constexpr int kMaxRevHalf = 1 << 15;

  // Rotation by a fixed angle, in the form c -= a*c + b*s with
  // a = 2 sin^2(angle/2), which keeps the small cosine deficit accurate.
  struct Step {
    void set(double angle) {
      const float sh = static_cast<float>(std::sin(0.5 * angle));
      alpha = 2.0f * sh * sh;
      beta = static_cast<float>(std::sin(angle));
    }
    void apply(float& c, float& s) const {
      const float dc = alpha * c + beta * s;
      const float ds = alpha * s - beta * c;
      c -= dc;
      s -= ds;
    }
    float alpha = 0.0f, beta = 0.0f;
  };

  // Produces e^{2 pi i k / period} for runs of k. Each value is an anchor
  // e^{i theta g} (g a multiple of kGroup) times a short offset rotation;
  // anchors advance by rotation too but are recomputed exactly every
  // kReanchor groups, so no recurrence chain is longer than a few steps.
  struct Sweep {
    explicit Sweep(int period) : theta(6.283185307179586476925 / period) {
      Step one;
      one.set(theta);
      offR[0] = 1.0f;
      offI[0] = 0.0f;
      for (int t = 1; t < kGroup; ++t) {
        offR[t] = offR[t - 1];
        offI[t] = offI[t - 1];
        one.apply(offR[t], offI[t]);
      }
      group.set(theta * kGroup);
    }
    // k0 must be a multiple of kGroup.
    void fill(int k0, int cnt, float* wr, float* wi) const {
      float ar = 1.0f, ai = 0.0f;
      for (int t0 = 0; t0 < cnt; t0 += kGroup) {
        const int g = (k0 + t0) / kGroup;
        if (t0 == 0 || g % kReanchor == 0) {
          const float ang = static_cast<float>(theta * (k0 + t0));
          ar = std::cos(ang);
          ai = std::sin(ang);
        } else {
          group.apply(ar, ai);
        }
        const int lim = cnt - t0 < kGroup ? cnt - t0 : kGroup;
        for (int t = 0; t < lim; ++t) {
          wr[t0 + t] = ar * offR[t] - ai * offI[t];
          wi[t0 + t] = ar * offI[t] + ai * offR[t];
        }
      }
    }
    double theta;
    Step group;
    float offR[kGroup], offI[kGroup];
  };

  // One radix-4 pass over every block of `len` complex values. The quarter
  // that holds the odd-by-two outputs goes to the second slot, so passes
  // compose into a plain bit reversal.
  static void radix4Twiddled(int m, int len, float* a) {
    const int q = len >> 2;
    Sweep sweep(len);
    float w1r[kBatch], w1i[kBatch], w2r[kBatch], w2i[kBatch], w3r[kBatch], w3i[kBatch];
    for (int j0 = 0; j0 < q; j0 += kBatch) {
      const int cnt = q - j0 < kBatch ? q - j0 : kBatch;
      sweep.fill(j0, cnt, w1r, w1i);
      for (int t = 0; t < cnt; ++t) {
        const float c1 = w1r[t], s1 = w1i[t];
        const float c2 = c1 * c1 - s1 * s1, s2 = 2.0f * c1 * s1;
        w2r[t] = c2;
        w2i[t] = s2;
        w3r[t] = c2 * c1 - s2 * s1;
        w3i[t] = c2 * s1 + s2 * c1;
      }
      for (int b = 0; b < m; b += len) {
        float* p0 = a + 2 * (b + j0);
        float* p1 = p0 + 2 * q;
        float* p2 = p1 + 2 * q;
        float* p3 = p2 + 2 * q;
        for (int t = 0; t < cnt; ++t) {
          const int e = 2 * t;
          const float t0r = p0[e] + p2[e], t0i = p0[e + 1] + p2[e + 1];
          const float t1r = p0[e] - p2[e], t1i = p0[e + 1] - p2[e + 1];
          const float t2r = p1[e] + p3[e], t2i = p1[e + 1] + p3[e + 1];
          const float t3r = p1[e] - p3[e], t3i = p1[e + 1] - p3[e + 1];
          p0[e] = t0r + t2r;
          p0[e + 1] = t0i + t2i;
          const float ur = t0r - t2r, ui = t0i - t2i;  // x0 - x1 + x2 - x3
          p1[e] = ur * w2r[t] - ui * w2i[t];
          p1[e + 1] = ur * w2i[t] + ui * w2r[t];
          const float vr = t1r - t3i, vi = t1i + t3r;  // x0 + i x1 - x2 - i x3
          p2[e] = vr * w1r[t] - vi * w1i[t];
          p2[e + 1] = vr * w1i[t] + vi * w1r[t];
          const float yr = t1r + t3i, yi = t1i - t3r;  // x0 - i x1 - x2 + i x3
          p3[e] = yr * w3r[t] - yi * w3i[t];
          p3[e + 1] = yr * w3i[t] + yi * w3r[t];
        }
      }
    }
  }

  // cos(pi/8), sin(pi/8), sqrt(1/2): the only twiddles of the 16- and
  // 8-point tails.
  static constexpr float kC8 = 0.92387953251128675613f;
  static constexpr float kS8 = 0.38268343236508977173f;
  static constexpr float kR2 = 0.70710678118654752440f;

  // Multiplies (x, y) by (c, s) in place.
  static inline void rot(float& x, float& y, float c, float s) {
    const float r = x * c - y * s;
    y = x * s + y * c;
    x = r;
  }

  // Twiddle-free radix-4 on four complex values spaced `d` floats apart,
  // outputs in bit-reversed slot order.
  static inline void dft4(float* x, int d) {
    const float t0r = x[0] + x[2 * d], t0i = x[1] + x[2 * d + 1];
    const float t1r = x[0] - x[2 * d], t1i = x[1] - x[2 * d + 1];
    const float t2r = x[d] + x[3 * d], t2i = x[d + 1] + x[3 * d + 1];
    const float t3r = x[d] - x[3 * d], t3i = x[d + 1] - x[3 * d + 1];
    x[0] = t0r + t2r;
    x[1] = t0i + t2i;
    x[d] = t0r - t2r;
    x[d + 1] = t0i - t2i;
    x[2 * d] = t1r - t3i;
    x[2 * d + 1] = t1i + t3r;
    x[3 * d] = t1r + t3i;
    x[3 * d + 1] = t1i - t3r;
  }

  // The last two passes when they are 16 then 4 points long, done per
  // block in registers.
  static void tail16(int m, float* a) {
    for (int b = 0; b < m; b += 16) {
      float x[32];
      for (int i = 0; i < 32; ++i) x[i] = a[2 * b + i];
      for (int j = 0; j < 4; ++j) dft4(x + 2 * j, 8);
      rot(x[10], x[11], kR2, kR2);
      {
        const float r = x[12];
        x[12] = -x[13];
        x[13] = r;
      }
      rot(x[14], x[15], -kR2, kR2);
      rot(x[18], x[19], kC8, kS8);
      rot(x[20], x[21], kR2, kR2);
      rot(x[22], x[23], kS8, kC8);
      rot(x[26], x[27], kS8, kC8);
      rot(x[28], x[29], -kR2, kR2);
      rot(x[30], x[31], -kC8, -kS8);
      for (int g = 0; g < 4; ++g) dft4(x + 8 * g, 2);
      for (int i = 0; i < 32; ++i) a[2 * b + i] = x[i];
    }
  }

  // The last two passes when they are 8 then 2 points long.
  static void tail8(int m, float* a) {
    for (int b = 0; b < m; b += 8) {
      float x[16];
      for (int i = 0; i < 16; ++i) x[i] = a[2 * b + i];
      for (int j = 0; j < 2; ++j) dft4(x + 2 * j, 4);
      {
        const float r = x[6];
        x[6] = -x[7];
        x[7] = r;
      }
      rot(x[10], x[11], kR2, kR2);
      rot(x[14], x[15], -kR2, kR2);
      for (int g = 0; g < 8; g += 2) {
        float* p = x + 2 * g;
        const float xr = p[0], xi = p[1];
        p[0] = xr + p[2];
        p[1] = xi + p[3];
        p[2] = xr - p[2];
        p[3] = xi - p[3];
      }
      for (int i = 0; i < 16; ++i) a[2 * b + i] = x[i];
    }
  }

  static void radix4Last(int m, float* a) {
    for (int b = 0; b < m; b += 4) {
      float* p = a + 2 * b;
      const float t0r = p[0] + p[4], t0i = p[1] + p[5];
      const float t1r = p[0] - p[4], t1i = p[1] - p[5];
      const float t2r = p[2] + p[6], t2i = p[3] + p[7];
      const float t3r = p[2] - p[6], t3i = p[3] - p[7];
      p[0] = t0r + t2r;
      p[1] = t0i + t2i;
      p[2] = t0r - t2r;
      p[3] = t0i - t2i;
      p[4] = t1r - t3i;
      p[5] = t1i + t3r;
      p[6] = t1r + t3i;
      p[7] = t1i - t3r;
    }
  }

  static void radix2Last(int m, float* a) {
    for (int b = 0; b < m; b += 2) {
      float* p = a + 2 * b;
      const float xr = p[0], xi = p[1];
      p[0] = xr + p[2];
      p[1] = xi + p[3];
      p[2] = xr - p[2];
      p[3] = xi - p[3];
    }
  }
};
