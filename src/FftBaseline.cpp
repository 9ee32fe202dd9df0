// The 4-lane FFT kernel (SSE2 on x86-64, simd128 in WebAssembly), the tables
// every kernel reads, and the choice of kernel.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include "FftKernel.h"
#include "fftooura/fftsg.h"

#if !defined(__GNUC__) && !defined(__clang__)
#error "the FFT kernels need GCC or clang vector extensions"
#endif

namespace qfft {

const CFFTOoura::KernelFns* Avx2Kernel();  // FftAvx2.cpp; null where not built

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
using K4 = Kernel<Lanes4>;
using Tables = CFFTOoura::Tables;

V4 mk(float a, float b, float c, float d) { return V4{a, b, c, d}; }
V4 bc(float x) { return Lanes4::bc(x); }

void sinCos(float x, float& c, float& s) {
  const float x2 = x * x;
  s = x * (1.0f + x2 * (-1.0f / 6 + x2 * (1.0f / 120 + x2 * (-1.0f / 5040 + x2 * (1.0f / 362880)))));
  c = 1.0f + x2 * (-0.5f + x2 * (1.0f / 24 + x2 * (-1.0f / 720 + x2 * (1.0f / 40320 + x2 * (-1.0f / 3628800)))));
}

void sinCos4(V4 x, V4& c, V4& s) {
  const V4 x2 = x * x;
  s = x * (bc(1.0f) + x2 * (bc(-1.0f / 6) + x2 * (bc(1.0f / 120) + x2 * (bc(-1.0f / 5040) + x2 * bc(1.0f / 362880)))));
  c = bc(1.0f) +
      x2 * (bc(-0.5f) +
            x2 * (bc(1.0f / 24) + x2 * (bc(-1.0f / 720) + x2 * (bc(1.0f / 40320) + x2 * bc(-1.0f / 3628800)))));
}

// cos and sin of k*2pi/n for k < n/4. On the first octant as
// e^{i theta (16b + a)} = e^{i 16 theta b} e^{i theta a}, both factors from
// Taylor polynomials (|x| <= pi/4 + a little, truncation below 2e-9); then
// mirrored.
void quarterWave(int n, float* c, float* s) {
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
    Lanes4::st(fr + a, vc);
    Lanes4::st(fi + a, vs);
  }
  const int nb = oct / 16 + 1;
  float gr[CFFTOoura::kMaxN / 128 + 8], gi[CFFTOoura::kMaxN / 128 + 8];
  for (int b = 0; b < nb; b += 4) {
    V4 vc, vs;
    sinCos4(bc(16.0f * theta) * (ramp + bc(static_cast<float>(b))), vc, vs);
    Lanes4::st(gr + b, vc);
    Lanes4::st(gi + b, vs);
  }
  for (int b = 0; b < nb; ++b) {
    const V4 cr = bc(gr[b]), ci = bc(gi[b]);
    float* dc = c + 16 * b;
    float* ds = s + 16 * b;
    for (int a = 0; a < 16; a += 4) {
      const V4 ur = Lanes4::ld(fr + a), ui = Lanes4::ld(fi + a);
      Lanes4::st(dc + a, cr * ur - ci * ui);
      Lanes4::st(ds + a, cr * ui + ci * ur);
    }
  }
  for (int k = oct; k < q; k += 4) {
    const V4 cm = Lanes4::rev(Lanes4::ld(c + q - k - 3)), sm = Lanes4::rev(Lanes4::ld(s + q - k - 3));
    Lanes4::st(c + k, sm);
    Lanes4::st(s + k, cm);
  }
}

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
    K4::runLarge(t, x, win, sink);
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

const CFFTOoura::KernelFns kBaseline = {4, 4, &rdft4, &power4, &K4::PowerBins};

std::atomic<int> gPreferred{static_cast<int>(CFFTOoura::Kernel::kAuto)};

const CFFTOoura::KernelFns* wideKernel() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("avx2")) return Avx2Kernel();
#endif
  return nullptr;
}

bool sizeOk(int n) { return n >= 2 && n <= CFFTOoura::kMaxN && (n & (n - 1)) == 0; }

// Rounded up to whole 32-byte blocks, so every array stays aligned.
size_t blocks(size_t floats) { return (floats + 7) / 8 * 8; }

}  // namespace
}  // namespace qfft

bool CFFTOoura::KernelAvailable(Kernel k) { return k != Kernel::kAvx2 || qfft::wideKernel() != nullptr; }

void CFFTOoura::PreferKernel(Kernel k) { qfft::gPreferred = static_cast<int>(k); }

CFFTOoura::CFFTOoura(Kernel kernel) : wide_(nullptr) {
  if (kernel == Kernel::kAuto) kernel = static_cast<Kernel>(qfft::gPreferred.load());
  if (kernel != Kernel::kBaseline) wide_ = qfft::wideKernel();
}

CFFTOoura::~CFFTOoura() {}

const CFFTOoura::KernelFns& CFFTOoura::KernelFor(int n) const {
  return wide_ != nullptr && n >= wide_->minN ? *wide_ : qfft::kBaseline;
}

int CFFTOoura::Width(int n) const { return KernelFor(n).width; }

namespace {

// How Prepare lays out one size's tables and work arrays, in floats.
struct TableLayout {
  bool large = false, radix4 = false;
  int passes = 0;
  int lens[8] = {};
  size_t waveFloats = 0, firstFloats = 0, passFloats = 0, lastFloats = 0, workFloats = 0;
  size_t Total() const { return 2 * waveFloats + firstFloats + passFloats + 2 * lastFloats + 4 * workFloats; }
};

TableLayout layoutFor(int n) {
  using qfft::blocks;
  TableLayout t;
  const int m = n / 2;
  const int q = n / 4;
  t.large = m >= 32;
  t.radix4 = (m & 0x55555555) != 0;
  if (t.large)
    for (int len = t.radix4 ? m / 4 : m / 2; len > 4; len /= 4) {
      t.lens[t.passes++] = len;
      t.passFloats += blocks(6 * static_cast<size_t>(len / 4));
    }
  t.waveFloats = blocks(q + 16);
  t.firstFloats = t.large ? blocks(t.radix4 ? 6 * static_cast<size_t>(m / 4) : static_cast<size_t>(m)) : 0;
  t.lastFloats = t.large ? blocks(m / 8 + 16) : 0;
  t.workFloats = blocks(m);
  return t;
}

}  // namespace

size_t CFFTOoura::TableFloats(int n) {
  if (!qfft::sizeOk(n) || n < 4) return 0;
  return layoutFor(n).Total() + 8;  // and room to align the first array
}

void CFFTOoura::Prepare(int n) {
  if (!qfft::sizeOk(n) || n < 4 || n == t_.n) return;
  store_.assign(TableFloats(n), 0.0f);
  PrepareIn(n, store_.data());
}

void CFFTOoura::PrepareIn(int n, float* memory) {
  if (!qfft::sizeOk(n) || n < 4 || memory == nullptr) return;
  using qfft::blocks;
  const TableLayout layout = layoutFor(n);
  const int m = n / 2;
  const int q = n / 4;
  const bool large = layout.large;
  const bool radix4 = layout.radix4;
  const int passes = layout.passes;
  const int* lens = layout.lens;
  const size_t waveFloats = layout.waveFloats, firstFloats = layout.firstFloats, lastFloats = layout.lastFloats,
               workFloats = layout.workFloats;
  float* p = memory;
  p += (8 - (reinterpret_cast<std::uintptr_t>(p) / sizeof(float)) % 8) % 8;
  auto take = [&p](size_t floats) {
    float* a = p;
    p += floats;
    return a;
  };
  float* c = take(waveFloats);
  float* s = take(waveFloats);
  qfft::quarterWave(n, c, s);
  t_ = Tables{};
  t_.n = n;
  t_.m = m;
  t_.firstRadix4 = radix4;
  t_.c = c;
  t_.s = s;
  if (large) {
    using qfft::V4;
    using qfft::Lanes4;
    // w, w^2, w^3 of w = e^{2 pi i p step / n}, four p at a time, as the
    // passes used to derive them in registers.
    auto powers = [&](int step, int count, float* out) {
      for (int p0 = 0; p0 < count; p0 += 4) {
        const float* cp = c + p0 * step;
        const float* sp = s + p0 * step;
        const V4 c1 = qfft::mk(cp[0], cp[step], cp[2 * step], cp[3 * step]);
        const V4 s1 = qfft::mk(sp[0], sp[step], sp[2 * step], sp[3 * step]);
        const V4 c2 = c1 * c1 - s1 * s1;
        const V4 s2 = (c1 + c1) * s1;
        const V4 c3 = c2 * c1 - s2 * s1;
        const V4 s3 = c2 * s1 + s2 * c1;
        const V4 all[6] = {c1, s1, c2, s2, c3, s3};
        for (int k = 0; k < 6; ++k) Lanes4::st(out + k * count + p0, all[k]);
      }
    };
    float* first = take(firstFloats);
    if (radix4) {
      powers(2, m / 4, first);
    } else {
      // e^{2 pi i p/m}; for p >= m/4, i times that of p - m/4.
      const int h = m / 2;
      for (int i = 0; i < h; ++i) {
        const bool upper = i >= h / 2;
        const int t = upper ? 2 * i - h : 2 * i;
        first[i] = upper ? 0.0f - s[t] : c[t];
        first[h + i] = upper ? c[t] : s[t];
      }
    }
    t_.first = first;
    t_.passes = passes;
    for (int i = 0; i < passes; ++i) {
      float* tw = take(blocks(6 * static_cast<size_t>(lens[i] / 4)));
      powers(n / lens[i], lens[i] / 4, tw);
      t_.len[i] = lens[i];
      t_.pass[i] = tw;
    }
    float* lastD = take(lastFloats);
    float* lastU = take(lastFloats);
    const float rh = 0.70710678118654752440f;
    for (int j = 0; j <= m / 8 && j < q; ++j) {
      lastD[j] = rh * (c[j] - s[j]);
      lastU[j] = rh * (c[j] + s[j]);
    }
    t_.lastD = lastD;
    t_.lastU = lastU;
  }
  t_.ar = take(workFloats);
  t_.ai = take(workFloats);
  t_.br = take(workFloats);
  t_.bi = take(workFloats);
}

void CFFTOoura::rdft(int n, int isgn, float* a) {
  if (isgn != 1 || !qfft::sizeOk(n) || a == nullptr) return;
  if (n == 2) {
    const float x0 = a[0], x1 = a[1];
    a[0] = x0 + x1;
    a[1] = x0 - x1;
    return;
  }
  Prepare(n);
  KernelFor(n).rdft(t_, a);
}

void CFFTOoura::powerSpectrum(int n, const float* x, const float* window, float* power) {
  if (!qfft::sizeOk(n) || n < 4) return;
  Prepare(n);
  KernelFor(n).power(t_, x, window, power);
}

size_t CFFTOoura::BinPlanInts(int n) {
  if (!qfft::sizeOk(n) || n < 64) return 0;
  const int m = n / 2;
  return static_cast<size_t>(m + 1) + 2 * static_cast<size_t>(m / 4);  // the narrowest kernel's groups
}

void CFFTOoura::PlanBins(int n, const int* offsets) {
  if (!qfft::sizeOk(n) || n < 64) return;
  binStore_.assign(BinPlanInts(n), -1);
  PlanBinsIn(n, offsets, binStore_.data());
}

void CFFTOoura::PlanBinsIn(int n, const int* offsets, int* memory) {
  if (!qfft::sizeOk(n) || n < 64 || memory == nullptr) return;
  Prepare(n);
  const int m = n / 2;
  const int w = Width(n);
  const int groups = m / w;
  int* off = memory;
  int* fwd = off + m + 1;
  int* rev = fwd + groups;
  std::memcpy(off, offsets, sizeof(int) * (m + 1));
  // A vector is stored when every bin of it has its place, consecutively.
  auto whole = [&](int first) {
    for (int i = 0; i < w; ++i)
      if (off[first + i] < 0 || off[first + i] != off[first] + i) return -1;
    return off[first];
  };
  for (int g = 0; g < groups; ++g) {
    fwd[g] = whole(g * w + 1);
    rev[g] = whole(g * w);
  }
  b_ = BinTables{};
  b_.n = n;
  b_.width = w;
  b_.offset = off;
  b_.forward = fwd;
  b_.reverse = rev;
}

void CFFTOoura::powerBins(const float* x, const float* window, float* row) {
  if (b_.n == 0) return;
  if (t_.n != b_.n) Prepare(b_.n);
  KernelFor(b_.n).bins(t_, b_, x, window, row);
}
