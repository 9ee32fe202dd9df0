// The 4-lane vector type of the FFT (SSE2 on x86-64, simd128 in WebAssembly,
// GCC or clang vector extensions anywhere else): the transform's kernel runs
// on it, and the tables are computed with it, so both give the same bits on
// every machine.
#pragma once

#include <cstring>

#if !defined(__GNUC__) && !defined(__clang__)
#error "the FFT kernels need GCC or clang vector extensions"
#endif

namespace qfft {
namespace {

struct Lanes4 {
  typedef float V __attribute__((vector_size(16)));
  typedef int I __attribute__((vector_size(16)));
  static constexpr int W = 4;

  // Lanes A..D of the eight lanes of a then b.
  template <int A, int B, int C, int D>
  static V shuf(V a, V b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, A, B, C, D);
#else
    return __builtin_shuffle(a, b, I{A, B, C, D});
#endif
  }
  static V ld(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  // Loads from the 16-byte aligned tables and work arrays; the compiler may
  // then fold them into arithmetic, which eases the register pressure of SSE2.
  static V lda(const float* p) { return *static_cast<const V*>(__builtin_assume_aligned(p, 16)); }
  static void st(float* p, V v) { std::memcpy(p, &v, sizeof v); }
  static V bc(float x) { return V{x, x, x, x}; }
  static V rev(V a) { return shuf<3, 2, 1, 0>(a, a); }

  // Rows r0..r3 become columns.
  static void transpose(V& r0, V& r1, V& r2, V& r3) {
    const V t0 = shuf<0, 4, 1, 5>(r0, r1), t1 = shuf<0, 4, 1, 5>(r2, r3);
    const V t2 = shuf<2, 6, 3, 7>(r0, r1), t3 = shuf<2, 6, 3, 7>(r2, r3);
    r0 = shuf<0, 1, 4, 5>(t0, t1);
    r1 = shuf<2, 3, 6, 7>(t0, t1);
    r2 = shuf<0, 1, 4, 5>(t2, t3);
    r3 = shuf<2, 3, 6, 7>(t2, t3);
  }
  static void loadComplex(const float* x, const float* win, V& re, V& im) {
    V lo = ld(x), hi = ld(x + 4);
    if (win) {
      lo = lo * ld(win);
      hi = hi * ld(win + 4);
    }
    re = shuf<0, 2, 4, 6>(lo, hi);
    im = shuf<1, 3, 5, 7>(lo, hi);
  }
  // (j..j+3, p = 0..3) of the last pass's input as four vectors over j, one
  // per p; with `reversed`, lane t holds j+3-t.
  template <bool reversed>
  static void loadCols(const float* x, V& x0, V& x1, V& x2, V& x3) {
    x0 = lda(x + (reversed ? 12 : 0));
    x1 = lda(x + (reversed ? 8 : 4));
    x2 = lda(x + (reversed ? 4 : 8));
    x3 = lda(x + (reversed ? 0 : 12));
    transpose(x0, x1, x2, x3);
  }
  static void storePacked(float* a, V xr, V xi) {
    st(a, shuf<0, 4, 1, 5>(xr, xi));
    st(a + 4, shuf<2, 6, 3, 7>(xr, xi));
  }
  static void storePackedRev(float* a, V yr, V yi) {
    st(a, shuf<3, 7, 2, 6>(yr, yi));
    st(a + 4, shuf<1, 5, 0, 4>(yr, yi));
  }
};

using V4 = Lanes4::V;

inline V4 mk(float a, float b, float c, float d) { return V4{a, b, c, d}; }
inline V4 bc(float x) { return Lanes4::bc(x); }

}  // namespace
}  // namespace qfft
