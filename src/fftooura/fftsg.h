// Real-input FFT, single precision, without persistent tables or heap use.
//
// rdft(n, 1, a) with n a power of two, 2 <= n <= kMaxN, leaves
//   a[0]    = sum_j a[j]
//   a[1]    = sum_j a[j] * (-1)^j
//   a[2k]   = sum_j a[j] * cos(2*pi*j*k/n)   0 < k < n/2
//   a[2k+1] = sum_j a[j] * sin(2*pi*j*k/n)   0 < k < n/2
// unscaled. Any other isgn, or an n out of range, leaves `a` untouched.
//
// The n real samples are read as m = n/2 complex values and transformed by a
// self-sorting (Stockham) radix-4 FFT in split re/im form on the stack, so no
// bit-reversal pass is needed and every inner loop runs over four contiguous
// lanes. A final pass splits the half-length spectrum into the real one.
// The quarter-wave twiddles are evaluated by short polynomials each call
// (cheap next to the transform, and accurate to about an ulp).
//
// powerSpectrum() runs the same transform on window[j] * x[j] and writes
// |X[k]|^2 for k = 0..n/2 without building the packed array.
#pragma once

#include <cstring>

class CFFTOoura {
 public:
  static constexpr int kMaxN = 4096;

  CFFTOoura() {}
  ~CFFTOoura() {}

  void rdft(int n, int isgn, float* a) {
    if (isgn != 1 || !sizeOk(n) || a == nullptr) return;
    if (n == 2) {
      const float x0 = a[0], x1 = a[1];
      a[0] = x0 + x1;
      a[1] = x0 - x1;
      return;
    }
    Work w;
    const float *zr, *zi;
    transform(n, a, nullptr, w, zr, zi);
    splitPacked(n, zr, zi, w.c, w.s, a);
  }

  // power[k] = |X[k]|^2, k = 0..n/2, of the spectrum of window[j] * x[j]
  // (window may be null). x is not modified.
  void powerSpectrum(int n, const float* x, const float* window, float* power) {
    if (!sizeOk(n) || n < 4) return;
    Work w;
    const float *zr, *zi;
    transform(n, x, window, w, zr, zi);
    splitPower(n, zr, zi, w.c, w.s, power);
  }

 private:
#if defined(__GNUC__) || defined(__clang__)
  typedef float V4 __attribute__((vector_size(16)));
  typedef int I4 __attribute__((vector_size(16)));
  static V4 mk(float a, float b, float c, float d) { return V4{a, b, c, d}; }
  // Lanes I..L of the eight lanes of a then b.
  template <int I, int J, int K, int L>
  static V4 shuf(V4 a, V4 b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, I, J, K, L);
#else
    return __builtin_shuffle(a, b, I4{I, J, K, L});
#endif
  }
#else
  struct V4 {
    float e[4];
    float operator[](int i) const { return e[i]; }
  };
  static V4 mk(float a, float b, float c, float d) {
    V4 v;
    v.e[0] = a;
    v.e[1] = b;
    v.e[2] = c;
    v.e[3] = d;
    return v;
  }
  friend V4 operator+(V4 a, V4 b) { return mk(a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3] + b[3]); }
  friend V4 operator-(V4 a, V4 b) { return mk(a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]); }
  friend V4 operator*(V4 a, V4 b) { return mk(a[0] * b[0], a[1] * b[1], a[2] * b[2], a[3] * b[3]); }
  template <int I, int J, int K, int L>
  static V4 shuf(V4 a, V4 b) {
    return mk(I < 4 ? a[I] : b[I - 4], J < 4 ? a[J] : b[J - 4], K < 4 ? a[K] : b[K - 4],
              L < 4 ? a[L] : b[L - 4]);
  }
#endif
  static V4 ld(const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void st(float* p, V4 v) { std::memcpy(p, &v, sizeof v); }
  static V4 bc(float x) { return mk(x, x, x, x); }
  static V4 rev(V4 a) { return shuf<3, 2, 1, 0>(a, a); }

  static constexpr int kMaxM = kMaxN / 2;
  // Everything a transform needs, on the caller's stack.
  struct Work {
    float c[kMaxN / 4 + 4], s[kMaxN / 4 + 4];  // e^{2 pi i k/n}, k < n/4
    float w1r[kMaxM / 4], w1i[kMaxM / 4];      // e^{2 pi i p/m}, e^{4..}, e^{6..}
    float w2r[kMaxM / 4], w2i[kMaxM / 4];
    float w3r[kMaxM / 4], w3i[kMaxM / 4];
    float ar[kMaxM], ai[kMaxM], br[kMaxM], bi[kMaxM];
  };

  static bool sizeOk(int n) { return n >= 2 && n <= kMaxN && (n & (n - 1)) == 0; }

  // cos and sin of k*2pi/n for k < n/4: Taylor polynomials on the first
  // octant (|x| <= pi/4, truncation below 2e-9), mirrored for the second.
  static void quarterWave(int n, float* c, float* s) {
    const int q = n / 4;
    const int oct = n / 8;
    const float theta = static_cast<float>(6.283185307179586476925 / n);
    if (n < 32) {
      for (int k = 0; k < q; ++k) sinCos(theta * static_cast<float>(k), c[k], s[k]);
      return;
    }
    // k = 0..oct inclusive (the buffers have slack for the last group).
    for (int k = 0; k <= oct; k += 4) {
      float cc[4], ss[4];
      for (int t = 0; t < 4; ++t) sinCos(theta * static_cast<float>(k + t), cc[t], ss[t]);
      st(c + k, ld(cc));
      st(s + k, ld(ss));
    }
    for (int k = oct; k < q; k += 4) {
      const V4 cm = rev(ld(c + q - k - 3)), sm = rev(ld(s + q - k - 3));
      st(c + k, sm);
      st(s + k, cm);
    }
  }

  static void sinCos(float x, float& c, float& s) {
    const float x2 = x * x;
    s = x * (1.0f + x2 * (-1.0f / 6 + x2 * (1.0f / 120 + x2 * (-1.0f / 5040 + x2 * (1.0f / 362880)))));
    c = 1.0f + x2 * (-0.5f + x2 * (1.0f / 24 + x2 * (-1.0f / 720 + x2 * (1.0f / 40320 +
                                                                        x2 * (-1.0f / 3628800)))));
  }

  // Twiddles of the first radix-4 pass: e^{2 pi i p j/m}, j = 1, 2, 3.
  static void passTwiddles(int m, const float* c, const float* s, Work& w) {
    const int q = m / 4;
    if (q % 4 != 0) {
      for (int p = 0; p < q; ++p) {
        const float c1 = c[2 * p], s1 = s[2 * p];
        const float c2 = c1 * c1 - s1 * s1, s2 = 2.0f * c1 * s1;
        w.w1r[p] = c1;
        w.w1i[p] = s1;
        w.w2r[p] = c2;
        w.w2i[p] = s2;
        w.w3r[p] = c2 * c1 - s2 * s1;
        w.w3i[p] = c2 * s1 + s2 * c1;
      }
      return;
    }
    for (int p = 0; p < q; p += 4) {
      const V4 c1 = shuf<0, 2, 4, 6>(ld(c + 2 * p), ld(c + 2 * p + 4));
      const V4 s1 = shuf<0, 2, 4, 6>(ld(s + 2 * p), ld(s + 2 * p + 4));
      const V4 c2 = c1 * c1 - s1 * s1, s2 = bc(2.0f) * c1 * s1;
      st(w.w1r + p, c1);
      st(w.w1i + p, s1);
      st(w.w2r + p, c2);
      st(w.w2i + p, s2);
      st(w.w3r + p, c2 * c1 - s2 * s1);
      st(w.w3i + p, c2 * s1 + s2 * c1);
    }
  }

  // Complex DFT (exponent +) of z[j] = win[2j] x[2j] + i win[2j+1] x[2j+1],
  // left in natural order at (zr, zi), which point into w.
  static void transform(int n, const float* x, const float* win, Work& w, const float*& zr,
                        const float*& zi) {
    const int m = n / 2;
    quarterWave(n, w.c, w.s);
    passTwiddles(m, w.c, w.s, w);
    float *xr = w.ar, *xi = w.ai, *yr = w.br, *yi = w.bi;
    int len = m, s = 1;
    if (m >= 16) {
      firstPass(m, x, win, w, xr, xi);
      len = m / 4;
      s = 4;
    } else {
      for (int j = 0; j < m; ++j) {
        xr[j] = win ? win[2 * j] * x[2 * j] : x[2 * j];
        xi[j] = win ? win[2 * j + 1] * x[2 * j + 1] : x[2 * j + 1];
      }
    }
    for (; len >= 4; len /= 4, s *= 4) {
      if (s >= 4)
        pass4(len, s, w, xr, xi, yr, yi);
      else
        pass4Scalar(len, s, w, xr, xi, yr, yi);
      float* t = xr;
      xr = yr;
      yr = t;
      t = xi;
      xi = yi;
      yi = t;
    }
    if (len == 2) {
      for (int q = 0; q < s; ++q) {
        yr[q] = xr[q] + xr[q + s];
        yi[q] = xi[q] + xi[q + s];
        yr[q + s] = xr[q] - xr[q + s];
        yi[q + s] = xi[q] - xi[q + s];
      }
      xr = yr;
      xi = yi;
    }
    zr = xr;
    zi = xi;
  }

  // Radix-4 butterfly, exponent +, on split vectors; outputs in place.
  static void bfly(V4& x0r, V4& x0i, V4& x1r, V4& x1i, V4& x2r, V4& x2i, V4& x3r, V4& x3i) {
    const V4 t0r = x0r + x2r, t0i = x0i + x2i, t1r = x0r - x2r, t1i = x0i - x2i;
    const V4 t2r = x1r + x3r, t2i = x1i + x3i, t3r = x1r - x3r, t3i = x1i - x3i;
    x0r = t0r + t2r;
    x0i = t0i + t2i;
    x2r = t0r - t2r;
    x2i = t0i - t2i;
    x1r = t1r - t3i;
    x1i = t1i + t3r;
    x3r = t1r + t3i;
    x3i = t1i - t3r;
  }

  static void cmul(V4& r, V4& i, V4 wr, V4 wi) {
    const V4 t = r * wr - i * wi;
    i = r * wi + i * wr;
    r = t;
  }

  // Rows r0..r3 become columns.
  static void transpose(V4& r0, V4& r1, V4& r2, V4& r3) {
    const V4 t0 = shuf<0, 4, 1, 5>(r0, r1), t1 = shuf<0, 4, 1, 5>(r2, r3);
    const V4 t2 = shuf<2, 6, 3, 7>(r0, r1), t3 = shuf<2, 6, 3, 7>(r2, r3);
    r0 = shuf<0, 1, 4, 5>(t0, t1);
    r1 = shuf<2, 3, 6, 7>(t0, t1);
    r2 = shuf<0, 1, 4, 5>(t2, t3);
    r3 = shuf<2, 3, 6, 7>(t2, t3);
  }

  // Loads four interleaved complex values (optionally windowed) as split
  // vectors.
  static void loadComplex(const float* x, const float* win, V4& re, V4& im) {
    V4 lo = ld(x), hi = ld(x + 4);
    if (win) {
      lo = lo * ld(win);
      hi = hi * ld(win + 4);
    }
    re = shuf<0, 2, 4, 6>(lo, hi);
    im = shuf<1, 3, 5, 7>(lo, hi);
  }

  // First pass (stride 1): reads the interleaved input, vectorised over p,
  // and writes y[4p + k] through a 4x4 transpose.
  static void firstPass(int m, const float* x, const float* win, const Work& w, float* yr, float* yi) {
    const int q = m / 4;
    for (int p = 0; p < q; p += 4) {
      V4 x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
      const int o = 2 * p;
      loadComplex(x + o, win ? win + o : nullptr, x0r, x0i);
      loadComplex(x + o + 2 * q, win ? win + o + 2 * q : nullptr, x1r, x1i);
      loadComplex(x + o + 4 * q, win ? win + o + 4 * q : nullptr, x2r, x2i);
      loadComplex(x + o + 6 * q, win ? win + o + 6 * q : nullptr, x3r, x3i);
      bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
      cmul(x1r, x1i, ld(w.w1r + p), ld(w.w1i + p));
      cmul(x2r, x2i, ld(w.w2r + p), ld(w.w2i + p));
      cmul(x3r, x3i, ld(w.w3r + p), ld(w.w3i + p));
      transpose(x0r, x1r, x2r, x3r);
      transpose(x0i, x1i, x2i, x3i);
      float* dr = yr + 4 * p;
      float* di = yi + 4 * p;
      st(dr, x0r);
      st(dr + 4, x1r);
      st(dr + 8, x2r);
      st(dr + 12, x3r);
      st(di, x0i);
      st(di + 4, x1i);
      st(di + 8, x2i);
      st(di + 12, x3i);
    }
  }

  // A pass of length len at stride s >= 4, vectorised over the stride.
  static void pass4(int len, int s, const Work& w, const float* xr, const float* xi, float* yr,
                    float* yi) {
    const int q = len / 4;
    const int qs = q * s;
    for (int p = 0; p < q; ++p) {
      const float* ar = xr + s * p;
      const float* ai = xi + s * p;
      float* br = yr + 4 * s * p;
      float* bi = yi + 4 * s * p;
      const int t = p * s;  // e^{2 pi i p/len} = e^{2 pi i p s/m}
      const V4 c1 = bc(w.w1r[t]), s1 = bc(w.w1i[t]), c2 = bc(w.w2r[t]), s2 = bc(w.w2i[t]);
      const V4 c3 = bc(w.w3r[t]), s3 = bc(w.w3i[t]);
      for (int j = 0; j < s; j += 4) {
        V4 x0r = ld(ar + j), x0i = ld(ai + j), x1r = ld(ar + j + qs), x1i = ld(ai + j + qs);
        V4 x2r = ld(ar + j + 2 * qs), x2i = ld(ai + j + 2 * qs);
        V4 x3r = ld(ar + j + 3 * qs), x3i = ld(ai + j + 3 * qs);
        bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
        if (p != 0) {
          cmul(x1r, x1i, c1, s1);
          cmul(x2r, x2i, c2, s2);
          cmul(x3r, x3i, c3, s3);
        }
        st(br + j, x0r);
        st(bi + j, x0i);
        st(br + j + s, x1r);
        st(bi + j + s, x1i);
        st(br + j + 2 * s, x2r);
        st(bi + j + 2 * s, x2i);
        st(br + j + 3 * s, x3r);
        st(bi + j + 3 * s, x3i);
      }
    }
  }

  // The same pass for the tiny transforms (m <= 8).
  static void pass4Scalar(int len, int s, const Work& w, const float* xr, const float* xi, float* yr,
                          float* yi) {
    const int q = len / 4;
    const int qs = q * s;
    for (int p = 0; p < q; ++p) {
      const int t = p * s;
      const float wr[3] = {w.w1r[t], w.w2r[t], w.w3r[t]};
      const float wi[3] = {w.w1i[t], w.w2i[t], w.w3i[t]};
      for (int j = 0; j < s; ++j) {
        const int a = s * p + j;
        const float t0r = xr[a] + xr[a + 2 * qs], t0i = xi[a] + xi[a + 2 * qs];
        const float t1r = xr[a] - xr[a + 2 * qs], t1i = xi[a] - xi[a + 2 * qs];
        const float t2r = xr[a + qs] + xr[a + 3 * qs], t2i = xi[a + qs] + xi[a + 3 * qs];
        const float t3r = xr[a + qs] - xr[a + 3 * qs], t3i = xi[a + qs] - xi[a + 3 * qs];
        const float br[4] = {t0r + t2r, t1r - t3i, t0r - t2r, t1r + t3i};
        const float bi[4] = {t0i + t2i, t1i + t3r, t0i - t2i, t1i - t3r};
        const int b = 4 * s * p + j;
        yr[b] = br[0];
        yi[b] = bi[0];
        for (int k = 1; k < 4; ++k) {
          yr[b + k * s] = br[k] * wr[k - 1] - bi[k] * wi[k - 1];
          yi[b + k * s] = br[k] * wi[k - 1] + bi[k] * wr[k - 1];
        }
      }
    }
  }

  // Real spectrum from the half-length one, for k and m - k together:
  // X[k] = E + W^k O, X[m-k] = conj(E - W^k O), with
  // E = (Z[k] + conj Z[m-k]) / 2, O = (Z[k] - conj Z[m-k]) / 2i.
  // Sink receives (k, vector of 4 ascending k, re/im of X[k], re/im of
  // X[m-k] in the same lane order).
  template <class Sink>
  static void split(int m, const float* zr, const float* zi, const float* c, const float* s,
                    Sink&& sink) {
    const int half = m / 2;
    const int vecFrom = half >= 4 ? 4 : half;
    for (int k = 1; k < vecFrom; ++k) {
      const float pr = zr[k], pi = zi[k], rr = zr[m - k], ri = zi[m - k];
      const float er = 0.5f * (pr + rr), ei = 0.5f * (pi - ri);
      const float orr = 0.5f * (pi + ri), oi = 0.5f * (rr - pr);
      const float tr = c[k] * orr - s[k] * oi, ti = c[k] * oi + s[k] * orr;
      sink.scalar(k, er + tr, ei + ti, er - tr, ti - ei);
    }
    const V4 h = bc(0.5f);
    for (int k = vecFrom; k < half; k += 4) {
      const V4 pr = ld(zr + k), pi = ld(zi + k);
      const V4 rr = rev(ld(zr + m - k - 3)), ri = rev(ld(zi + m - k - 3));
      const V4 er = h * (pr + rr), ei = h * (pi - ri);
      const V4 orr = h * (pi + ri), oi = h * (rr - pr);
      const V4 wr = ld(c + k), wi = ld(s + k);
      const V4 tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
      sink.vector(k, er + tr, ei + ti, er - tr, ti - ei);
    }
  }

  static void splitPacked(int n, const float* zr, const float* zi, const float* c, const float* s,
                          float* a) {
    const int m = n / 2;
    const float z0r = zr[0], z0i = zi[0];
    struct Packed {
      float* a;
      int m;
      void scalar(int k, float xr, float xi, float yr, float yi) {
        a[2 * k] = xr;
        a[2 * k + 1] = xi;
        a[2 * (m - k)] = yr;
        a[2 * (m - k) + 1] = yi;
      }
      void vector(int k, V4 xr, V4 xi, V4 yr, V4 yi) {
        st(a + 2 * k, shuf<0, 4, 1, 5>(xr, xi));
        st(a + 2 * k + 4, shuf<2, 6, 3, 7>(xr, xi));
        // m-k-3 .. m-k ascending is lane 3 .. 0.
        st(a + 2 * (m - k - 3), shuf<3, 7, 2, 6>(yr, yi));
        st(a + 2 * (m - k - 1), shuf<1, 5, 0, 4>(yr, yi));
      }
    } sink{a, m};
    const float midr = zr[m / 2], midi = zi[m / 2];
    split(m, zr, zi, c, s, sink);
    a[0] = z0r + z0i;
    a[1] = z0r - z0i;
    if (m >= 2) {
      a[m] = midr;
      a[m + 1] = midi;
    }
  }

  static void splitPower(int n, const float* zr, const float* zi, const float* c, const float* s,
                         float* power) {
    const int m = n / 2;
    struct Power {
      float* e;
      int m;
      void scalar(int k, float xr, float xi, float yr, float yi) {
        e[k] = xr * xr + xi * xi;
        e[m - k] = yr * yr + yi * yi;
      }
      void vector(int k, V4 xr, V4 xi, V4 yr, V4 yi) {
        st(e + k, xr * xr + xi * xi);
        st(e + m - k - 3, rev(yr * yr + yi * yi));
      }
    } sink{power, m};
    split(m, zr, zi, c, s, sink);
    const float d = zr[0] + zi[0], ny = zr[0] - zi[0];
    power[0] = d * d;
    power[m] = ny * ny;
    power[m / 2] = zr[m / 2] * zr[m / 2] + zi[m / 2] * zi[m / 2];
  }
};
