// The 8-lane FFT kernel, compiled with -mavx2 (and no fused multiply-adds,
// so that it gives the 4-lane kernel's bits); FftPlan.cpp runs it only on
// CPUs that have AVX2. Elsewhere, and in builds without -mavx2, there is none.
#include "fftooura/fftsg.h"

#if defined(__x86_64__) && defined(__AVX2__) && !defined(__EMSCRIPTEN__)
#include <immintrin.h>

#include "core/FftKernelTemplate.h"

namespace qfft {
namespace {

struct Lanes8 {
  typedef __m256 V;
  static constexpr int W = 8;

  static V ld(const float* p) { return _mm256_loadu_ps(p); }
  static V lda(const float* p) { return _mm256_load_ps(p); }
  static void st(float* p, V v) { _mm256_storeu_ps(p, v); }
  static V bc(float x) { return _mm256_set1_ps(x); }
  static V rev(V a) { return _mm256_permutevar8x32_ps(a, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }
  // Four floats at a in the lower half, four at b in the upper.
  static V ldSplit(const float* a, const float* b) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
  }
  static V bc4(const float* p) { return _mm256_broadcast_ps(reinterpret_cast<const __m128*>(p)); }

  static void loadComplex(const float* x, const float* win, V& re, V& im) {
    V lo = ld(x), hi = ld(x + 8);
    if (win) {
      lo = lo * ld(win);
      hi = hi * ld(win + 8);
    }
    // Within each half: lo's even (odd) lanes, then hi's; then the halves'
    // middle quarters swap.
    const V e = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const V o = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    re = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(e), _MM_SHUFFLE(3, 1, 2, 0)));
    im = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(o), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  // Rows r0..r3 become columns, in each half on its own.
  static void transpose(V& r0, V& r1, V& r2, V& r3) {
    const V t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
    const V t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
    r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
  }
  // Columns j..j+3 (16 floats at x) in the lower half and j+4..j+7 (16 at
  // x + 16) in the upper; reversed: j+3..j and, at x - 16, j-1..j-4.
  template <bool reversed>
  static void loadCols(const float* x, V& x0, V& x1, V& x2, V& x3) {
    if (reversed) {
      x0 = ldSplit(x + 12, x - 4);
      x1 = ldSplit(x + 8, x - 8);
      x2 = ldSplit(x + 4, x - 12);
      x3 = ldSplit(x, x - 16);
    } else {
      x0 = ldSplit(x, x + 16);
      x1 = ldSplit(x + 4, x + 20);
      x2 = ldSplit(x + 8, x + 24);
      x3 = ldSplit(x + 12, x + 28);
    }
    transpose(x0, x1, x2, x3);
  }
  static void storePacked(float* a, V xr, V xi) {
    const V lo = _mm256_unpacklo_ps(xr, xi), hi = _mm256_unpackhi_ps(xr, xi);
    st(a, _mm256_permute2f128_ps(lo, hi, 0x20));
    st(a + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
  }
  static void storePackedRev(float* a, V yr, V yi) { storePacked(a, rev(yr), rev(yi)); }
};

using K8 = Kernel<Lanes8>;

}  // namespace

const CFFTOoura::KernelFns* Avx2Kernel() {
  static const CFFTOoura::KernelFns fns = {8, 128, &K8::Rdft, &K8::PowerSpectrum, &K8::PowerBins, &K8::PowerInWork};
  return &fns;
}

}  // namespace qfft

#else

namespace qfft {
const CFFTOoura::KernelFns* Avx2Kernel() { return nullptr; }
}  // namespace qfft

#endif
