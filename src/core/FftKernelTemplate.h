// The transform of fftooura/fftsg.h written once over a vector type, for the
// kernel translation units only (FftKernel4.cpp: 4 lanes, FftKernel1.cpp: one, FftKernel8Avx2.cpp: 8).
// Every value is computed with the same operations in the same order in
// whichever lane it lands, so every kernel gives the same bits. Everything
// here has internal linkage: each kernel's unit keeps its own copy, compiled
// for its own instruction set.
//
// A lane type T provides V (W floats), ld/lda/st/bc/rev, loadComplex (W
// interleaved complex values, optionally windowed, as split vectors),
// loadCols (the last pass's input, see lastPassSplit), storePacked and
// storePackedRev (W complex values interleaved, the second in reversed
// lane order), and for W > 4 bc4 and ldSplit (see pass4).
#pragma once

#include <cstring>
#include <utility>

#include "fftooura/fftsg.h"

namespace qfft {
namespace {

template <class T>
struct Kernel {
  using V = typename T::V;
  using Tables = CFFTOoura::Tables;
  using BinTables = CFFTOoura::BinTables;
  using Frame = CFFTOoura::Frame;
  static constexpr int W = T::W;
  static constexpr int kLog2W = W == 8 ? 3 : (W == 4 ? 2 : 0);
  static_assert(W == 1 || W == 4 || W == 8, "lanes: 1, 4 or 8");

  // Radix-4 butterfly, exponent +, on split vectors; outputs in place.
  static void bfly(V& x0r, V& x0i, V& x1r, V& x1i, V& x2r, V& x2i, V& x3r, V& x3i) {
    const V t0r = x0r + x2r, t0i = x0i + x2i, t1r = x0r - x2r, t1i = x0i - x2i;
    const V t2r = x1r + x3r, t2i = x1i + x3i, t3r = x1r - x3r, t3i = x1i - x3i;
    x0r = t0r + t2r;
    x0i = t0i + t2i;
    x2r = t0r - t2r;
    x2i = t0i - t2i;
    x1r = t1r - t3i;
    x1i = t1i + t3r;
    x3r = t1r + t3i;
    x3i = t1i - t3r;
  }

  static void cmul(V& r, V& i, V wr, V wi) {
    const V t = r * wr - i * wi;
    i = r * wi + i * wr;
    r = t;
  }

  static void store4(float* d, int stride, V x0, V x1, V x2, V x3) {
    T::st(d, x0);
    T::st(d + stride, x1);
    T::st(d + 2 * stride, x2);
    T::st(d + 3 * stride, x3);
  }

  // Where frame offset o (in floats) lies: a frame held in a ring continues
  // from the ring's start after its split.
  static const float* at(const Frame& f, int o) { return o < f.split ? f.first + o : f.second + (o - f.split); }

  // A first pass reads S streams of the frame, stream k from offset k * span,
  // two floats per p for p < count. body(x, p0, p1) runs p0..p1 with stream k
  // at x[k] (for p0); a ring's split cuts one stream, and the range with it.
  template <int S, class Body>
  static void overStreams(const Frame& f, int span, int count, Body body) {
    for (int p = 0; p < count;) {
      int end = count;
      for (int k = 0; k < S; ++k) {
        const int cut = (f.split - k * span) / 2;
        if (cut > p && cut < end) end = cut;
      }
      const float* x[S];
      for (int k = 0; k < S; ++k) x[k] = at(f, 2 * p + k * span);
      body(x, p, end);
      p = end;
    }
  }

  // The first pass's twiddles for p .. p + W - 1 into w: the `count` rows
  // of the table, or, where the tables leave it out (small boards), worked
  // out of the quarter wave by the same arithmetic that fills it (the same
  // bits). Radix 4: w, w^2, w^3 of e^{2 pi i p/m}; radix 2: e^{2 pi i p/m}.
  template <int Rows>
  static void firstTwiddles(const Tables& t, int p, V (&w)[Rows]) {
    const int count = Rows == 6 ? t.m / 4 : t.m / 2;
    if (t.first != nullptr) {
      for (int k = 0; k < Rows; ++k) w[k] = T::lda(t.first + k * count + p);
      return;
    }
    float v[Rows][W];
    for (int l = 0; l < W; ++l) {
      const int i = p + l;
      if (Rows == 6) {
        const float c1 = t.c[2 * i], s1 = t.s[2 * i];
        const float c2 = c1 * c1 - s1 * s1, s2 = (c1 + c1) * s1;
        const float row[6] = {c1, s1, c2, s2, c2 * c1 - s2 * s1, c2 * s1 + s2 * c1};
        for (int k = 0; k < Rows; ++k) v[k][l] = row[k];
      } else {
        const int h = t.m / 2;
        const bool upper = i >= h / 2;
        const int at = upper ? 2 * i - h : 2 * i;
        v[0][l] = upper ? 0.0f - t.s[at] : t.c[at];
        v[Rows - 1][l] = upper ? t.c[at] : t.s[at];
      }
    }
    for (int k = 0; k < Rows; ++k) w[k] = T::ld(v[k]);
  }

  // First pass, radix 4: reads the interleaved input. Twiddles: w, w^2, w^3
  // of e^{2 pi i p/m}, planar.
  static void firstPass4(const Tables& t, const Frame& f, const float* win, float* yr, float* yi) {
    const int q = t.m / 4;
    overStreams<4>(f, 2 * q, q, [&](const float* const* x, int p0, int p1) {
      for (int p = p0; p < p1; p += W) {
        V x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
        const int o = 2 * p, r = 2 * (p - p0);
        T::loadComplex(x[0] + r, win ? win + o : nullptr, x0r, x0i);
        T::loadComplex(x[1] + r, win ? win + o + 2 * q : nullptr, x1r, x1i);
        T::loadComplex(x[2] + r, win ? win + o + 4 * q : nullptr, x2r, x2i);
        T::loadComplex(x[3] + r, win ? win + o + 6 * q : nullptr, x3r, x3i);
        bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
        V w[6];
        firstTwiddles(t, p, w);
        cmul(x1r, x1i, w[0], w[1]);
        cmul(x2r, x2i, w[2], w[3]);
        cmul(x3r, x3i, w[4], w[5]);
        store4(yr + p, q, x0r, x1r, x2r, x3r);
        store4(yi + p, q, x0i, x1i, x2i, x3i);
      }
    });
  }

  // First pass, radix 2 (m = 2 * 4^k). Twiddles e^{2 pi i p/m}, planar.
  static void firstPass2(const Tables& t, const Frame& f, const float* win, float* yr, float* yi) {
    const int m = t.m;
    const int h = m / 2;
    overStreams<2>(f, m, h, [&](const float* const* x, int p0, int p1) {
      for (int p = p0; p < p1; p += W) {
        V ar, ai, br, bi;
        const int o = 2 * p, r = 2 * (p - p0);
        T::loadComplex(x[0] + r, win ? win + o : nullptr, ar, ai);
        T::loadComplex(x[1] + r, win ? win + o + m : nullptr, br, bi);
        const V dr = ar - br, di = ai - bi;
        T::st(yr + p, ar + br);
        T::st(yi + p, ai + bi);
        V w[2];
        firstTwiddles(t, p, w);
        const V wr = w[0], wi = w[1];
        T::st(yr + h + p, dr * wr - di * wi);
        T::st(yi + h + p, dr * wi + di * wr);
      }
    });
  }

  // A radix-4 pass of length len >= 16: at a pass of length len (stride
  // s = m/len) element (j, p), natural index s p + j, sits at j len + p.
  static void pass4(const Tables& t, int idx, const float* xr, const float* xi, float* yr, float* yi) {
    const int len = t.len[idx];
    const int q = len / 4;
    const int s = t.m / len;
    const int quarter = q * s;
    const float* tw = t.pass[idx];
    if (q >= W) {
      for (int p = 0; p < q; p += W) {
        const V c1 = T::lda(tw + p), s1 = T::lda(tw + q + p);
        const V c2 = T::lda(tw + 2 * q + p), s2 = T::lda(tw + 3 * q + p);
        const V c3 = T::lda(tw + 4 * q + p), s3 = T::lda(tw + 5 * q + p);
        const float* ar = xr + p;
        const float* ai = xi + p;
        float* br = yr + p;
        float* bi = yi + p;
        for (int j = 0; j < s; ++j, ar += len, ai += len, br += q, bi += q) {
          V x0r = T::lda(ar), x0i = T::lda(ai), x1r = T::lda(ar + q), x1i = T::lda(ai + q);
          V x2r = T::lda(ar + 2 * q), x2i = T::lda(ai + 2 * q);
          V x3r = T::lda(ar + 3 * q), x3i = T::lda(ai + 3 * q);
          bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
          cmul(x1r, x1i, c1, s1);
          cmul(x2r, x2i, c2, s2);
          cmul(x3r, x3i, c3, s3);
          store4(br, quarter, x0r, x1r, x2r, x3r);
          store4(bi, quarter, x0i, x1i, x2i, x3i);
        }
      }
    } else if constexpr (W > 4) {
      // len 16, q = 4: two j at once, each half of a vector holding one j's
      // four p; their outputs (j q + p) are adjacent.
      const V c1 = T::bc4(tw), s1 = T::bc4(tw + 4), c2 = T::bc4(tw + 8), s2 = T::bc4(tw + 12);
      const V c3 = T::bc4(tw + 16), s3 = T::bc4(tw + 20);
      for (int j = 0; j < s; j += 2) {
        const float* ar = xr + j * len;
        const float* ai = xi + j * len;
        V x0r = T::ldSplit(ar, ar + len), x0i = T::ldSplit(ai, ai + len);
        V x1r = T::ldSplit(ar + 4, ar + len + 4), x1i = T::ldSplit(ai + 4, ai + len + 4);
        V x2r = T::ldSplit(ar + 8, ar + len + 8), x2i = T::ldSplit(ai + 8, ai + len + 8);
        V x3r = T::ldSplit(ar + 12, ar + len + 12), x3i = T::ldSplit(ai + 12, ai + len + 12);
        bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
        cmul(x1r, x1i, c1, s1);
        cmul(x2r, x2i, c2, s2);
        cmul(x3r, x3i, c3, s3);
        store4(yr + 4 * j, quarter, x0r, x1r, x2r, x3r);
        store4(yi + 4 * j, quarter, x0i, x1i, x2i, x3i);
      }
    }
  }

  // Every pass but the last; the result is left at (zr, zi).
  static void transformLarge(const Tables& t, const Frame& x, const float* win, const float*& zr,
                             const float*& zi) {
    float *xr = t.ar, *xi = t.ai, *yr = t.br, *yi = t.bi;
    if (t.firstRadix4)
      firstPass4(t, x, win, xr, xi);
    else
      firstPass2(t, x, win, xr, xi);
    for (int i = 0; i < t.passes; ++i) {
      pass4(t, i, xr, xi, yr, yi);
      std::swap(xr, yr);
      std::swap(xi, yi);
    }
    zr = xr;
    zi = xi;
  }

  // One split step (see split()): P = Z[k], R = Z[m-k] lane by lane,
  // W = e^{2 pi i k/n}; gives X[k] and X[m-k]. With `doubled` the halving is
  // left out (for sinks that fold it into their own scale).
  template <bool doubled>
  static void splitCore(V pr, V pi, V rr, V ri, V wr, V wi, V& xr, V& xi, V& yr, V& yi) {
    V er = pr + rr, ei = pi - ri, orr = pi + ri, oi = rr - pr;
    if (!doubled) {
      const V h = T::bc(0.5f);
      er = h * er;
      ei = h * ei;
      orr = h * orr;
      oi = h * oi;
    }
    const V tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
    xr = er + tr;
    xi = ei + ti;
    yr = er - tr;
    yi = ti - ei;
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

  // The twiddle-free last pass (len 4, stride s = m/4 = n/8) fused with the
  // real split: output Z[j + k s] pairs with Z[m - j - k s] =
  // Z[(s - j) + (3 - k) s], so columns j.. and s-j.. (loaded reversed, which
  // lines the pairs up lane by lane) are done together, straight from the
  // previous pass's arrays; loadCols gives one vector per p over W columns
  // (for W = 8, columns j..j+3 and j+4..j+7, and the mirrored ones). The four
  // twiddles, at j, s + j, s - j and 2s - j, all follow from W^j since
  // W^s = e^{i pi/4}. Column 0 pairs with itself.
  template <class Sink>
  static void lastPassSplit(const Tables& t, const float* xr, const float* xi, Sink& sink) {
    const int s = t.m / 4;
    {
      const float t0r = xr[0] + xr[2], t0i = xi[0] + xi[2], t1r = xr[0] - xr[2], t1i = xi[0] - xi[2];
      const float t2r = xr[1] + xr[3], t2i = xi[1] + xi[3], t3r = xr[1] - xr[3], t3i = xi[1] - xi[3];
      sink.ends(t0r + t2r, t0i + t2i, t0r - t2r, t0i - t2i);
      float pr, pi, qr, qi;
      splitScalar(s, t1r - t3i, t1i + t3r, t1r + t3i, t1i - t3r, t.c, t.s, pr, pi, qr, qi);
      sink.scalar(s, pr, pi, qr, qi);
    }
    constexpr bool d = Sink::kDoubled;
    for (int j = 1; j <= s / 2; j += W) {
      const int r = s - j - 3;
      V x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
      T::template loadCols<false>(xr + 4 * j, x0r, x1r, x2r, x3r);
      T::template loadCols<false>(xi + 4 * j, x0i, x1i, x2i, x3i);
      bfly(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
      V y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i;
      T::template loadCols<true>(xr + 4 * r, y0r, y1r, y2r, y3r);
      T::template loadCols<true>(xi + 4 * r, y0i, y1i, y2i, y3i);
      bfly(y0r, y0i, y1r, y1i, y2r, y2i, y3r, y3i);
      const V wc = T::ld(t.c + j), ws = T::ld(t.s + j);
      const V wd = T::ld(t.lastD + j), wu = T::ld(t.lastU + j);
      V ar, ai, br, bi;
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

  // Sinks receive (k, vector of W ascending k, re/im of X[k], re/im of
  // X[m-k] in the same lane order).
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
    void vector(int k, V xr, V xi, V yr, V yi) {
      T::storePacked(a + 2 * k, xr, xi);
      // m-k-W+1 .. m-k ascending is lane W-1 .. 0.
      T::storePackedRev(a + 2 * (m - k - (W - 1)), yr, yi);
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
    void vector(int k, V xr, V xi, V yr, V yi) {
      const V quarter = T::bc(0.25f);
      T::st(e + k, quarter * (xr * xr + xi * xi));
      T::st(e + m - k - (W - 1), T::rev(quarter * (yr * yr + yi * yi)));
    }
  };

  // The Power values of the planned bins only, each where the plan puts it.
  struct Bins {
    float* row;
    int m;
    const int* off;
    const int* fwd;
    const int* rev;
    static constexpr bool kDoubled = true;
    void put(int bin, float v) {
      if (off[bin] >= 0) row[off[bin]] = v;
    }
    void ends(float z0r, float z0i, float midr, float midi) {
      const float d = z0r + z0i, ny = z0r - z0i;
      put(0, d * d);
      put(m, ny * ny);
      put(m / 2, midr * midr + midi * midi);
    }
    void scalar(int k, float xr, float xi, float yr, float yi) {
      put(k, xr * xr + xi * xi);
      put(m - k, yr * yr + yi * yi);
    }
    void vector(int k, V xr, V xi, V yr, V yi) {
      const V quarter = T::bc(0.25f);
      const int f = fwd[(k - 1) >> kLog2W];
      if (f >= 0) T::st(row + f, quarter * (xr * xr + xi * xi));
      const int r = rev[(m - k - (W - 1)) >> kLog2W];
      if (r >= 0) T::st(row + r, T::rev(quarter * (yr * yr + yi * yi)));
    }
  };

  // Large transforms (m >= 32) only; the baseline does the rest.
  template <class Sink>
  static void runLarge(const Tables& t, const Frame& x, const float* win, Sink& sink) {
    const float *zr, *zi;
    transformLarge(t, x, win, zr, zi);
    lastPassSplit(t, zr, zi, sink);
  }
  static Frame whole(const Tables& t, const float* x) { return {x, t.n, nullptr}; }

  static void Rdft(const Tables& t, float* a) {
    Packed sink{a, t.m};
    runLarge(t, whole(t, a), nullptr, sink);
  }
  static void PowerSpectrum(const Tables& t, const float* x, const float* win, float* out) {
    Power sink{out, t.m};
    runLarge(t, whole(t, x), win, sink);
  }
  static void PowerBins(const Tables& t, const BinTables& b, const float* x, const float* win, float* row) {
    Bins sink{row, t.m, b.offset, b.forward, b.reverse};
    runLarge(t, whole(t, x), win, sink);
  }
  // The energies go to the pair of work arrays that the last pass does not
  // read (2m floats in a row, of which m + 1 are used).
  static const float* PowerInWork(const Tables& t, const Frame& x, const float* win) {
    const float *zr, *zi;
    transformLarge(t, x, win, zr, zi);
    float* out = zr == t.ar ? t.br : t.ar;
    Power sink{out, t.m};
    lastPassSplit(t, zr, zi, sink);
    return out;
  }
};

}  // namespace
}  // namespace qfft
