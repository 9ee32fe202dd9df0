// The one-lane FFT kernel, for processors without a vector unit (Cortex-M),
// where emulated 4-lane vectors cost registers and moves: the transform of
// FftKernelTemplate.h value by value, with the 4-lane kernel's bits.
#include "core/FftKernelTemplate.h"
#include "fftooura/fftsg.h"

namespace qfft {
namespace {

// loadCols gives column j (x .. x + 3) or, reversed, column j + 3
// (x + 12 .. x + 15): lane 0 of the 4-lane loads.
struct Lanes1 {
  typedef float V;
  static constexpr int W = 1;
  static V ld(const float* p) { return *p; }
  static V lda(const float* p) { return *p; }
  static void st(float* p, V v) { *p = v; }
  static V bc(float x) { return x; }
  static V rev(V a) { return a; }
  static void loadComplex(const float* x, const float* win, V& re, V& im) {
    re = win ? x[0] * win[0] : x[0];
    im = win ? x[1] * win[1] : x[1];
  }
  template <bool reversed>
  static void loadCols(const float* x, V& x0, V& x1, V& x2, V& x3) {
    const float* c = x + (reversed ? 12 : 0);
    x0 = c[0];
    x1 = c[1];
    x2 = c[2];
    x3 = c[3];
  }
  static void storePacked(float* a, V xr, V xi) {
    a[0] = xr;
    a[1] = xi;
  }
  static void storePackedRev(float* a, V yr, V yi) { storePacked(a, yr, yi); }
};

using K1 = Kernel<Lanes1>;

}  // namespace

// Sizes from 64 up (the last pass takes m >= 32); the 4-lane kernel does the rest.
extern const CFFTOoura::KernelFns kScalarKernel = {1, 64, &K1::Rdft, &K1::PowerSpectrum, &K1::PowerBins,
                                                   &K1::PowerInWork};

}  // namespace qfft
