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
// self-sorting (Stockham) radix-4 FFT in split re/im form on the stack (a
// radix-2 first pass when m is not a power of four), so no bit-reversal pass
// is needed. The passes keep their data column-major, so every inner loop
// reads and writes four consecutive values with per-lane twiddles and no
// shuffles; the last, twiddle-free pass transposes once and feeds the real
// split directly, without storing the half-length spectrum.
// The quarter-wave twiddles are evaluated by short polynomials each call
// (cheap next to the transform, and accurate to about an ulp).
//
// powerSpectrum() runs the same transform on window[j] * x[j] (the window
// multiply is part of the first pass) and writes |X[k]|^2 for k = 0..n/2
// straight from the split.
#pragma once

#include <cstring>
#include <utility>

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
    Packed sink{a, n / 2};
    run(n, a, nullptr, sink);
  }

  // power[k] = |X[k]|^2, k = 0..n/2, of the spectrum of window[j] * x[j]
  // (window may be null). x is not modified.
  void powerSpectrum(int n, const float* x, const float* window, float* power) {
    if (!sizeOk(n) || n < 4) return;
    Power sink{power, n / 2};
    run(n, x, window, sink);
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
  // Loads from the 16-byte aligned work arrays; the compiler may then fold
  // them into arithmetic, which eases the register pressure of SSE2.
#if defined(__GNUC__) || defined(__clang__)
  static V4 lda(const float* p) { return *static_cast<const V4*>(__builtin_assume_aligned(p, 16)); }
#else
  static V4 lda(const float* p) { return ld(p); }
#endif
  static V4 bc(float x) { return mk(x, x, x, x); }
  static V4 rev(V4 a) { return shuf<3, 2, 1, 0>(a, a); }

  static constexpr int kMaxM = kMaxN / 2;
  // Everything a transform needs, on the caller's stack.
  struct Work {
    alignas(16) float c[kMaxN / 4 + 16];  // e^{2 pi i k/n}, k < n/4
    alignas(16) float s[kMaxN / 4 + 16];
    alignas(16) float ar[kMaxM];
    alignas(16) float ai[kMaxM];
    alignas(16) float br[kMaxM];
    alignas(16) float bi[kMaxM];
  };

  static bool sizeOk(int n) { return n >= 2 && n <= kMaxN && (n & (n - 1)) == 0; }

  // cos and sin of k*2pi/n for k < n/4. On the first octant as
  // e^{i theta (16b + a)} = e^{i 16 theta b} e^{i theta a}, both factors from
  // Taylor polynomials (|x| <= pi/4 + a little, truncation below 2e-9), so only
  // a handful of polynomial evaluations per call; then mirrored.
  static void quarterWave(int n, float* c, float* s) {
    const int q = n / 4;
    const int oct = n / 8;
    const float theta = static_cast<float>(6.283185307179586476925 / n);
    if (n < 128) {
      for (int k = 0; k <= oct; ++k) sinCos(theta * static_cast<float>(k), c[k], s[k]);
      for (int k = oct + 1; k < q; ++k) {
        c[k] = s[q - k];
        s[k] = c[q - k];
      }
      return;
    }
    const V4 ramp = mk(0.0f, 1.0f, 2.0f, 3.0f);
    float fr[16], fi[16];
    for (int a = 0; a < 16; a += 4) {
      V4 vc, vs;
      sinCos4(bc(theta) * (ramp + bc(static_cast<float>(a))), vc, vs);
      st(fr + a, vc);
      st(fi + a, vs);
    }
    const int nb = oct / 16 + 1;
    float gr[kMaxN / 128 + 8], gi[kMaxN / 128 + 8];
    for (int b = 0; b < nb; b += 4) {
      V4 vc, vs;
      sinCos4(bc(16.0f * theta) * (ramp + bc(static_cast<float>(b))), vc, vs);
      st(gr + b, vc);
      st(gi + b, vs);
    }
    for (int b = 0; b < nb; ++b) {
      const V4 cr = bc(gr[b]), ci = bc(gi[b]);
      float* dc = c + 16 * b;
      float* ds = s + 16 * b;
      for (int a = 0; a < 16; a += 4) {
        const V4 ur = ld(fr + a), ui = ld(fi + a);
        st(dc + a, cr * ur - ci * ui);
        st(ds + a, cr * ui + ci * ur);
      }
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

  static void sinCos4(V4 x, V4& c, V4& s) {
    const V4 x2 = x * x;
    s = x * (bc(1.0f) +
             x2 * (bc(-1.0f / 6) + x2 * (bc(1.0f / 120) + x2 * (bc(-1.0f / 5040) + x2 * bc(1.0f / 362880)))));
    c = bc(1.0f) +
        x2 * (bc(-0.5f) +
              x2 * (bc(1.0f / 24) +
                    x2 * (bc(-1.0f / 720) + x2 * (bc(1.0f / 40320) + x2 * bc(-1.0f / 3628800)))));
  }

  // w, w^2, w^3 from w.
  static void powers(V4 c1, V4 s1, V4& c2, V4& s2, V4& c3, V4& s3) {
    c2 = c1 * c1 - s1 * s1;
    s2 = (c1 + c1) * s1;
    c3 = c2 * c1 - s2 * s1;
    s3 = c2 * s1 + s2 * c1;
  }

  // Tiny sizes (m < 32): complex DFT (exponent +) of
  // z[j] = win[2j] x[2j] + i win[2j+1] x[2j+1] by scalar self-sorting passes,
  // left in natural order at (zr, zi).
  static void transformSmall(int n, const float* x, const float* win, Work& w, const float*& zr,
                             const float*& zi) {
    const int m = n / 2;
    float *xr = w.ar, *xi = w.ai, *yr = w.br, *yi = w.bi;
    for (int j = 0; j < m; ++j) {
      xr[j] = win ? win[2 * j] * x[2 * j] : x[2 * j];
      xi[j] = win ? win[2 * j + 1] * x[2 * j + 1] : x[2 * j + 1];
    }
    int len = m, s = 1;
    for (; len >= 4; len /= 4, s *= 4) {
      pass4Scalar(len, s, w.c, w.s, xr, xi, yr, yi);
      std::swap(xr, yr);
      std::swap(xi, yi);
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

  // m >= 32: every pass but the last, in "column-major" order: at a pass of
  // length len (stride s = m/len) element (j, p), natural index s p + j,
  // sits at j len + p. Each pass then reads and writes four consecutive p,
  // with per-lane twiddles loaded once per group of p, and needs no
  // transposes; the last pass (len 4) transposes once on the way into the
  // split. The result is left at (zr, zi).
  static void transformLarge(int n, const float* x, const float* win, Work& w, const float*& zr,
                             const float*& zi) {
    const int m = n / 2;
    float *xr = w.ar, *xi = w.ai, *yr = w.br, *yi = w.bi;
    int len;
    if ((m & 0x55555555) != 0) {  // a power of four
      firstPass4(m, x, win, w.c, w.s, xr, xi);
      len = m / 4;
    } else {
      firstPass2(m, x, win, w.c, w.s, xr, xi);
      len = m / 2;
    }
    for (; len > 4; len /= 4) {
      pass4(n, len, w.c, w.s, xr, xi, yr, yi);
      std::swap(xr, yr);
      std::swap(xi, yi);
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

  static void store4(float* d, int stride, V4 x0, V4 x1, V4 x2, V4 x3) {
    st(d, x0);
    st(d + stride, x1);
    st(d + 2 * stride, x2);
    st(d + 3 * stride, x3);
  }

  // First pass, radix 4: reads the interleaved input; its twiddles
  // e^{2 pi i p/m} are the even entries of the quarter wave.
  static void firstPass4(int m, const float* x, const float* win, const float* c, const float* sn,
                         float* yr, float* yi) {
    const int q = m / 4;
    for (int p = 0; p < q; p += 4) {
      V4 x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
      const int o = 2 * p;
      loadComplex(x + o, win ? win + o : nullptr, x0r, x0i);
      loadComplex(x + o + 2 * q, win ? win + o + 2 * q : nullptr, x1r, x1i);
      loadComplex(x + o + 4 * q, win ? win + o + 4 * q : nullptr, x2r, x2i);
      loadComplex(x + o + 6 * q, win ? win + o + 6 * q : nullptr, x3r, x3i);
      bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
      const V4 c1 = shuf<0, 2, 4, 6>(lda(c + o), lda(c + o + 4));
      const V4 s1 = shuf<0, 2, 4, 6>(lda(sn + o), lda(sn + o + 4));
      V4 c2, s2, c3, s3;
      powers(c1, s1, c2, s2, c3, s3);
      cmul(x1r, x1i, c1, s1);
      cmul(x2r, x2i, c2, s2);
      cmul(x3r, x3i, c3, s3);
      store4(yr + p, q, x0r, x1r, x2r, x3r);
      store4(yi + p, q, x0i, x1i, x2i, x3i);
    }
  }

  // First pass, radix 2 (m = 2 * 4^k). Twiddles e^{2 pi i p/m} for p >= m/4
  // are i times those of p - m/4.
  static void firstPass2(int m, const float* x, const float* win, const float* c, const float* sn,
                         float* yr, float* yi) {
    const int h = m / 2;
    for (int p = 0; p < h; p += 4) {
      V4 ar, ai, br, bi;
      const int o = 2 * p;
      loadComplex(x + o, win ? win + o : nullptr, ar, ai);
      loadComplex(x + o + m, win ? win + o + m : nullptr, br, bi);
      const V4 dr = ar - br, di = ai - bi;
      st(yr + p, ar + br);
      st(yi + p, ai + bi);
      const bool upper = p >= h / 2;
      const int t = upper ? o - h : o;
      V4 wr = shuf<0, 2, 4, 6>(ld(c + t), ld(c + t + 4));
      V4 wi = shuf<0, 2, 4, 6>(ld(sn + t), ld(sn + t + 4));
      if (upper) {
        const V4 u = wr;
        wr = bc(0.0f) - wi;
        wi = u;
      }
      st(yr + h + p, dr * wr - di * wi);
      st(yi + h + p, dr * wi + di * wr);
    }
  }

  // A radix-4 pass of length len >= 16 (see transformLarge for the layout),
  // four p at a time.
  static void pass4(int n, int len, const float* c, const float* sn, const float* xr, const float* xi,
                    float* yr, float* yi) {
    const int q = len / 4;
    const int s = n / 2 / len;
    const int quarter = q * s;
    const int step = n / len;  // e^{2 pi i p/len} = e^{2 pi i p step/n}
    for (int p = 0; p < q; p += 4) {
      const float* cp = c + p * step;
      const float* sp = sn + p * step;
      const V4 c1 = mk(cp[0], cp[step], cp[2 * step], cp[3 * step]);
      const V4 s1 = mk(sp[0], sp[step], sp[2 * step], sp[3 * step]);
      V4 c2, s2, c3, s3;
      powers(c1, s1, c2, s2, c3, s3);
      const float* ar = xr + p;
      const float* ai = xi + p;
      float* br = yr + p;
      float* bi = yi + p;
      for (int j = 0; j < s; ++j, ar += len, ai += len, br += q, bi += q) {
        V4 x0r = lda(ar), x0i = lda(ai), x1r = lda(ar + q), x1i = lda(ai + q);
        V4 x2r = lda(ar + 2 * q), x2i = lda(ai + 2 * q);
        V4 x3r = lda(ar + 3 * q), x3i = lda(ai + 3 * q);
        bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
        cmul(x1r, x1i, c1, s1);
        cmul(x2r, x2i, c2, s2);
        cmul(x3r, x3i, c3, s3);
        store4(br, quarter, x0r, x1r, x2r, x3r);
        store4(bi, quarter, x0i, x1i, x2i, x3i);
      }
    }
  }

  // The radix-4 pass of the tiny transforms, in natural order.
  static void pass4Scalar(int len, int s, const float* c, const float* sn, const float* xr,
                          const float* xi, float* yr, float* yi) {
    const int q = len / 4;
    const int qs = q * s;
    for (int p = 0; p < q; ++p) {
      const int t = 2 * p * s;
      const float c1 = c[t], s1 = sn[t];
      const float c2 = c1 * c1 - s1 * s1, s2 = 2.0f * c1 * s1;
      const float wr[3] = {c1, c2, c2 * c1 - s2 * s1};
      const float wi[3] = {s1, s2, c2 * s1 + s2 * c1};
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

  // One split step on four bins at once (see split()): P = Z[k], R = Z[m-k]
  // lane by lane, W = e^{2 pi i k/n}; gives X[k] and X[m-k]. With `doubled`
  // the halving is left out (for sinks that fold it into their own scale).
  template <bool doubled>
  static void splitCore(V4 pr, V4 pi, V4 rr, V4 ri, V4 wr, V4 wi, V4& xr, V4& xi, V4& yr, V4& yi) {
    V4 er = pr + rr, ei = pi - ri, orr = pi + ri, oi = rr - pr;
    if (!doubled) {
      const V4 h = bc(0.5f);
      er = h * er;
      ei = h * ei;
      orr = h * orr;
      oi = h * oi;
    }
    const V4 tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
    xr = er + tr;
    xi = ei + ti;
    yr = er - tr;
    yi = ti - ei;
  }

  // The same for ascending k..k+3 with R loaded reversed.
  template <class Sink>
  static void splitStep(int k, V4 pr, V4 pi, V4 rr, V4 ri, const float* c, const float* s, Sink& sink) {
    V4 xr, xi, yr, yi;
    splitCore<Sink::kDoubled>(pr, pi, rr, ri, ld(c + k), ld(s + k), xr, xi, yr, yi);
    sink.vector(k, xr, xi, yr, yi);
  }

  static void splitScalar(int k, float pr, float pi, float rr, float ri, const float* c, const float* s,
                          float& xr, float& xi, float& yr, float& yi) {
    const float er = 0.5f * (pr + rr), ei = 0.5f * (pi - ri);
    const float orr = 0.5f * (pi + ri), oi = 0.5f * (rr - pr);
    const float tr = c[k] * orr - s[k] * oi, ti = c[k] * oi + s[k] * orr;
    xr = er + tr;
    xi = ei + ti;
    yr = er - tr;
    yi = ti - ei;
  }

  // Loads (j..j+3, p = 0..3) of the last pass's input as four vectors
  // over j, one per p; with `reversed`, lane t holds j+3-t.
  template <bool reversed>
  static void loadCols(const float* x, V4& x0, V4& x1, V4& x2, V4& x3) {
    x0 = lda(x + (reversed ? 12 : 0));
    x1 = lda(x + (reversed ? 8 : 4));
    x2 = lda(x + (reversed ? 4 : 8));
    x3 = lda(x + (reversed ? 0 : 12));
    transpose(x0, x1, x2, x3);
  }

  // The twiddle-free last pass (len 4, stride s = m/4 = n/8) fused with the
  // real split: output Z[j + k s] pairs with Z[m - j - k s] =
  // Z[(s - j) + (3 - k) s], so columns j..j+3 and s-j..s-j-3 (loaded
  // reversed, which lines the pairs up lane by lane) are done together,
  // straight from the previous pass's arrays. The four twiddles, at j,
  // s + j, s - j and 2s - j, all follow from W^j since W^s = e^{i pi/4}.
  // Column 0 pairs with itself.
  template <class Sink>
  static void lastPassSplit(int m, const float* xr, const float* xi, const float* c, const float* sn,
                            Sink& sink) {
    const int s = m / 4;
    {
      V4 a0r = bc(xr[0]), a0i = bc(xi[0]), a1r = bc(xr[1]), a1i = bc(xi[1]);
      V4 a2r = bc(xr[2]), a2i = bc(xi[2]), a3r = bc(xr[3]), a3i = bc(xi[3]);
      bfly(a0r, a0i, a1r, a1i, a2r, a2i, a3r, a3i);
      sink.ends(a0r[0], a0i[0], a2r[0], a2i[0]);
      float pr, pi, qr, qi;
      splitScalar(s, a1r[0], a1i[0], a3r[0], a3i[0], c, sn, pr, pi, qr, qi);
      sink.scalar(s, pr, pi, qr, qi);
    }
    constexpr bool d = Sink::kDoubled;
    const V4 rh = bc(0.70710678118654752440f);
    for (int j = 1; j <= s / 2; j += 4) {
      const int r = s - j - 3;
      V4 x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
      loadCols<false>(xr + 4 * j, x0r, x1r, x2r, x3r);
      loadCols<false>(xi + 4 * j, x0i, x1i, x2i, x3i);
      bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
      V4 y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i;
      loadCols<true>(xr + 4 * r, y0r, y1r, y2r, y3r);
      loadCols<true>(xi + 4 * r, y0i, y1i, y2i, y3i);
      bfly(y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i);
      const V4 wc = ld(c + j), ws = ld(sn + j);
      const V4 wd = rh * (wc - ws), wu = rh * (wc + ws);
      V4 ar, ai, br, bi;
      splitCore<d>(x0r, x0i, y3r, y3i, wc, ws, ar, ai, br, bi);
      sink.vector(j, ar, ai, br, bi);
      splitCore<d>(x1r, x1i, y2r, y2i, wd, wu, ar, ai, br, bi);
      sink.vector(j + s, ar, ai, br, bi);
      // Bins s-j-t and 2s-j-t come out in descending lanes; their partners
      // 3s+j+t and 2s+j+t ascend.
      splitCore<d>(y0r, y0i, x3r, x3i, wu, wd, ar, ai, br, bi);
      sink.vector(3 * s + j, br, bi, ar, ai);
      splitCore<d>(y1r, y1i, x2r, x2i, ws, wc, ar, ai, br, bi);
      sink.vector(2 * s + j, br, bi, ar, ai);
    }
  }

  // Real spectrum from the half-length one, for k and m - k together:
  // X[k] = E + W^k O, X[m-k] = conj(E - W^k O), with
  // E = (Z[k] + conj Z[m-k]) / 2, O = (Z[k] - conj Z[m-k]) / 2i.
  // Sink receives (k, vector of 4 ascending k, re/im of X[k], re/im of
  // X[m-k] in the same lane order).
  template <class Sink>
  static void split(int m, const float* zr, const float* zi, const float* c, const float* s,
                    Sink& sink) {
    const int half = m / 2;
    const int vecFrom = half >= 4 ? 4 : half;
    for (int k = 1; k < vecFrom; ++k) {
      float xr, xi, yr, yi;
      splitScalar(k, zr[k], zi[k], zr[m - k], zi[m - k], c, s, xr, xi, yr, yi);
      sink.scalar(k, xr, xi, yr, yi);
    }
    for (int k = vecFrom; k < half; k += 4)
      splitStep(k, ld(zr + k), ld(zi + k), rev(ld(zr + m - k - 3)), rev(ld(zi + m - k - 3)), c, s, sink);
  }

  struct Packed {
    float* a;
    int m;
    static constexpr bool kDoubled = false;
    void ends(float z0r, float z0i, float midr, float midi) {
      a[0] = z0r + z0i;
      a[1] = z0r - z0i;
      a[m] = midr;
      a[m + 1] = midi;
    }
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
  };

  struct Power {
    float* e;
    int m;
    static constexpr bool kDoubled = true;
    void ends(float z0r, float z0i, float midr, float midi) {
      const float d = z0r + z0i, ny = z0r - z0i;
      e[0] = d * d;
      e[m] = ny * ny;
      e[m / 2] = midr * midr + midi * midi;
    }
    void scalar(int k, float xr, float xi, float yr, float yi) {
      e[k] = xr * xr + xi * xi;
      e[m - k] = yr * yr + yi * yi;
    }
    void vector(int k, V4 xr, V4 xi, V4 yr, V4 yi) {
      const V4 quarter = bc(0.25f);
      st(e + k, quarter * (xr * xr + xi * xi));
      st(e + m - k - 3, rev(quarter * (yr * yr + yi * yi)));
    }
  };

  // Transform and split into `sink`.
  template <class Sink>
  static void run(int n, const float* x, const float* win, Sink& sink) {
    const int m = n / 2;
    Work w;
    quarterWave(n, w.c, w.s);
    const float *zr, *zi;
    if (m >= 32) {
      transformLarge(n, x, win, w, zr, zi);
      lastPassSplit(m, zr, zi, w.c, w.s, sink);
      return;
    }
    transformSmall(n, x, win, w, zr, zi);
    const float z0r = zr[0], z0i = zi[0], midr = zr[m / 2], midi = zi[m / 2];
    split(m, zr, zi, w.c, w.s, sink);
    sink.ends(z0r, z0i, midr, midi);
  }
};
