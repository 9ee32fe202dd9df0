// CFFTOoura's tables, work arrays and bin plans, and which kernel runs a
// transform: the 4-lane one everywhere, the 8-lane AVX2 one where the CPU has it.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "core/FftLanes4.h"
#include "fftooura/fftsg.h"

namespace qfft {

extern const CFFTOoura::KernelFns kBaselineKernel;  // FftKernel4.cpp
extern const CFFTOoura::KernelFns kScalarKernel;    // FftKernel1.cpp
const CFFTOoura::KernelFns* Avx2Kernel();      // FftKernel8Avx2.cpp; null where not built

namespace {

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

std::atomic<int> gPreferred{static_cast<int>(CFFTOoura::Kernel::kAuto)};

const CFFTOoura::KernelFns* wideKernel() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("avx2")) return Avx2Kernel();
#endif
  return nullptr;
}

// What kAuto runs for the sizes it takes: the widest kernel the CPU has, or on
// ARM processors without NEON (Cortex-M) the one-lane kernel.
const CFFTOoura::KernelFns* autoKernel() {
#if defined(__arm__) && !defined(__ARM_NEON)
  return &kScalarKernel;
#else
  return wideKernel();
#endif
}

// Cortex-M keeps no table of the first pass's twiddles (6 KB at 2048
// points, where RAM is counted in kilobytes): its one-lane kernel works them
// out as it goes, with the same bits.
#if defined(__arm__) && !defined(__ARM_NEON)
constexpr bool kFirstTwiddlesTabled = false;
#else
constexpr bool kFirstTwiddlesTabled = true;
#endif

bool sizeOk(int n) { return n >= 2 && n <= CFFTOoura::kMaxN && (n & (n - 1)) == 0; }

// Rounded up to whole 32-byte blocks, so every array stays aligned.
size_t blocks(size_t floats) { return (floats + 7) / 8 * 8; }

}  // namespace
}  // namespace qfft

bool CFFTOoura::KernelAvailable(Kernel k) { return k != Kernel::kAvx2 || qfft::wideKernel() != nullptr; }

void CFFTOoura::PreferKernel(Kernel k) { qfft::gPreferred = static_cast<int>(k); }

CFFTOoura::CFFTOoura(Kernel kernel) : wide_(nullptr) {
  if (kernel == Kernel::kAuto) kernel = static_cast<Kernel>(qfft::gPreferred.load());
  if (kernel == Kernel::kAuto) wide_ = qfft::autoKernel();
  if (kernel == Kernel::kAvx2) wide_ = qfft::wideKernel();
  if (kernel == Kernel::kScalar) wide_ = &qfft::kScalarKernel;
}

CFFTOoura::~CFFTOoura() {}

const CFFTOoura::KernelFns& CFFTOoura::KernelFor(int n) const {
  return wide_ != nullptr && n >= wide_->minN ? *wide_ : qfft::kBaselineKernel;
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
  t.firstFloats = t.large && qfft::kFirstTwiddlesTabled
                      ? blocks(t.radix4 ? 6 * static_cast<size_t>(m / 4) : static_cast<size_t>(m))
                      : 0;
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
#if !defined(QUORLAX_FREESTANDING)
  store_.assign(TableFloats(n), 0.0f);
  PrepareIn(n, store_.data());
#endif
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
    float* first = firstFloats > 0 ? take(firstFloats) : nullptr;
    if (first == nullptr) {
      // worked out by the kernel as it goes
    } else if (radix4) {
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
  return static_cast<size_t>(m + 1) + 2 * static_cast<size_t>(m);  // the one-lane kernel's groups
}

void CFFTOoura::PlanBins(int n, const int* offsets) {
  if (!qfft::sizeOk(n) || n < 64) return;
#if !defined(QUORLAX_FREESTANDING)
  binStore_.assign(BinPlanInts(n), -1);
  PlanBinsIn(n, offsets, binStore_.data());
#else
  (void)offsets;
#endif
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

const float* CFFTOoura::powerSpectrumOfFrame(const Frame& frame, const float* window) {
  // The kernels load whole vectors of up to 16 floats, which a split must not cut.
  if (t_.n < 64 || frame.split <= 0 || frame.split > t_.n || (frame.split != t_.n && frame.split % 16 != 0))
    return nullptr;
  return KernelFor(t_.n).powerInWork(t_, frame, window);
}

void CFFTOoura::powerBins(const float* x, const float* window, float* row) {
  if (b_.n == 0) return;
  if (t_.n != b_.n) Prepare(b_.n);
  KernelFor(b_.n).bins(t_, b_, x, window, row);
}
