// The 4-lane FFT kernel, which every machine runs where no wider one is
// picked: the transform of FftKernelTemplate.h on Lanes4, and a scalar one for
// the tiny sizes.
#include <utility>

#include "core/FftKernelTemplate.h"
#include "core/FftLanes4.h"
#include "fftooura/fftsg.h"

namespace qfft {
namespace {

using K4 = Kernel<Lanes4>;
using Tables = CFFTOoura::Tables;

// Tiny sizes (m < 32): complex DFT (exponent +) of
// z[j] = win[2j] x[2j] + i win[2j+1] x[2j+1] by scalar self-sorting passes,
// left in natural order at (zr, zi).
void pass4Scalar(int len, int s, const float* c, const float* sn, const float* xr, const float* xi, float* yr,
                 float* yi) {
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

void transformSmall(const Tables& t, const float* x, const float* win, const float*& zr, const float*& zi) {
  const int m = t.m;
  float *xr = t.ar, *xi = t.ai, *yr = t.br, *yi = t.bi;
  for (int j = 0; j < m; ++j) {
    xr[j] = win ? win[2 * j] * x[2 * j] : x[2 * j];
    xi[j] = win ? win[2 * j + 1] * x[2 * j + 1] : x[2 * j + 1];
  }
  int len = m, s = 1;
  for (; len >= 4; len /= 4, s *= 4) {
    pass4Scalar(len, s, t.c, t.s, xr, xi, yr, yi);
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

// Real spectrum from the half-length one, for k and m - k together:
// X[k] = E + W^k O, X[m-k] = conj(E - W^k O), with
// E = (Z[k] + conj Z[m-k]) / 2, O = (Z[k] - conj Z[m-k]) / 2i.
template <class Sink>
void split(int m, const float* zr, const float* zi, const float* c, const float* s, Sink& sink) {
  const int half = m / 2;
  const int vecFrom = half >= 4 ? 4 : half;
  for (int k = 1; k < vecFrom; ++k) {
    float xr, xi, yr, yi;
    K4::splitScalar(k, zr[k], zi[k], zr[m - k], zi[m - k], c, s, xr, xi, yr, yi);
    sink.scalar(k, xr, xi, yr, yi);
  }
  for (int k = vecFrom; k < half; k += 4) {
    V4 xr, xi, yr, yi;
    K4::splitCore<Sink::kDoubled>(Lanes4::ld(zr + k), Lanes4::ld(zi + k), Lanes4::rev(Lanes4::ld(zr + m - k - 3)),
                                  Lanes4::rev(Lanes4::ld(zi + m - k - 3)), Lanes4::ld(c + k), Lanes4::ld(s + k), xr,
                                  xi, yr, yi);
    sink.vector(k, xr, xi, yr, yi);
  }
}

template <class Sink>
void run(const Tables& t, const float* x, const float* win, Sink& sink) {
  if (t.m >= 32) {
    K4::runLarge(t, K4::whole(t, x), win, sink);
    return;
  }
  const int m = t.m;
  const float *zr, *zi;
  transformSmall(t, x, win, zr, zi);
  const float z0r = zr[0], z0i = zi[0], midr = zr[m / 2], midi = zi[m / 2];
  split(m, zr, zi, t.c, t.s, sink);
  sink.ends(z0r, z0i, midr, midi);
}

void rdft4(const Tables& t, float* a) {
  K4::Packed sink{a, t.m};
  run(t, a, nullptr, sink);
}
void power4(const Tables& t, const float* x, const float* win, float* out) {
  K4::Power sink{out, t.m};
  run(t, x, win, sink);
}


}  // namespace

extern const CFFTOoura::KernelFns kBaselineKernel = {4, 4, &rdft4, &power4, &K4::PowerBins, &K4::PowerInWork};

}  // namespace qfft
