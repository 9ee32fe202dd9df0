// Real-input FFT, single precision.
//
// rdft(n, 1, a) with n a power of two, 2 <= n <= kMaxN, leaves
//   a[0]    = sum_j a[j]
//   a[1]    = sum_j a[j] * (-1)^j
//   a[2k]   = sum_j a[j] * cos(2*pi*j*k/n)   0 < k < n/2
//   a[2k+1] = sum_j a[j] * sin(2*pi*j*k/n)   0 < k < n/2
// unscaled. Any other isgn, or an n out of range, leaves `a` untouched.
//
// The n real samples are read as m = n/2 complex values and transformed by a
// self-sorting (Stockham) radix-4 FFT in split re/im form (a radix-2 first
// pass when m is not a power of four), so no bit-reversal pass is needed. The
// passes keep their data column-major, so every inner loop reads and writes
// consecutive values with per-lane twiddles and no shuffles; the last,
// twiddle-free pass transposes once and feeds the real split directly,
// without storing the half-length spectrum.
//
// powerSpectrum() runs the same transform on window[j] * x[j] (the window
// multiply is part of the first pass) and writes |X[k]|^2 for k = 0..n/2
// straight from the split; powerBins() writes only the bins a caller asked
// for, where it asked.
//
// Each object owns its twiddle tables and work arrays, built for one size at
// a time (Prepare; a call with another size rebuilds them, which allocates).
// Kernels: a 4-lane one that every x86-64 (SSE2), aarch64 (NEON) and
// WebAssembly (simd128) runs, on x86-64 an 8-lane AVX2 one picked at run
// time, and a one-lane one for processors without vectors (Cortex-M). All do
// the same arithmetic lane by lane, without fused multiply-adds, so they
// give the same bits.
#pragma once

#include <cstddef>
#if !defined(QUORLAX_FREESTANDING)
#include <vector>
#endif

class CFFTOoura {
 public:
  static constexpr int kMaxN = 4096;
  // Vector lanes the widest kernel needs spare on each side of a bin range
  // (see PlanBins).
  static constexpr int kBinMargin = 7;

  // kBaseline: 4 lanes (SSE2, NEON, simd128, or emulated); kAvx2: 8 lanes on
  // x86-64; kScalar: one lane, what kAuto runs on Cortex-M.
  enum class Kernel { kAuto, kBaseline, kAvx2, kScalar };
  // Whether this build and CPU can run `k` (kAuto and kBaseline always).
  static bool KernelAvailable(Kernel k);

  // What kAuto means for objects made from now on (benchmarks and tests
  // compare kernels through the decoders); kAuto again: the widest.
  static void PreferKernel(Kernel k);

  // kAuto: the widest kernel the CPU runs (the one-lane kernel where there are
  // no vectors). An unavailable kernel means kBaseline.
  explicit CFFTOoura(Kernel kernel = Kernel::kAuto);
  ~CFFTOoura();
  CFFTOoura(const CFFTOoura&) = delete;
  CFFTOoura& operator=(const CFFTOoura&) = delete;

  // Builds the tables and work arrays for size n (a valid size; others are
  // ignored). Allocates; a no-op when already built for n, and in the
  // freestanding profile (no heap: use PrepareIn).
  void Prepare(int n);
  // The same in the caller's memory of TableFloats(n) floats (any alignment),
  // which must outlive the object's use of size n. Allocates nothing.
  static std::size_t TableFloats(int n);
  void PrepareIn(int n, float* memory);

  void rdft(int n, int isgn, float* a);

  // power[k] = |X[k]|^2, k = 0..n/2, of the spectrum of window[j] * x[j]
  // (window may be null). x is not modified. n >= 4.
  void powerSpectrum(int n, const float* x, const float* window, float* power);

  // Chooses the bins powerBins writes for size n (64 <= n): offsets[b], for
  // b = 0..n/2, is where bin b goes in a row, or -1. A bin whose offset is set
  // gets exactly the value powerSpectrum gives it, provided the kBinMargin
  // bins on each side of every run of wanted bins (or up to the spectrum's
  // ends) also have offsets, consecutive with the run: the kernels store whole
  // vectors, and may write those margin bins. Allocates (a no-op in the
  // freestanding profile: use PlanBinsIn).
  void PlanBins(int n, const int* offsets);
  // The same in the caller's memory of BinPlanInts(n) ints, after Prepare or
  // PrepareIn for n. Allocates nothing then.
  static std::size_t BinPlanInts(int n);
  void PlanBinsIn(int n, const int* offsets, int* memory);
  // A frame of n samples held in a ring: samples [0, split) at `first`, the
  // rest from `second`; split is n, or a multiple of 16 below it.
  struct Frame {
    const float* first;
    int split;
    const float* second;
  };
  // powerSpectrum of window[j] * frame[j] for the size last prepared
  // (n >= 64), into the object's own work memory: returns the n / 2 + 1
  // energies, valid until its next transform; null for another split.
  // Allocates nothing.
  const float* powerSpectrumOfFrame(const Frame& frame, const float* window);
  // Room for a frame that its caller writes and then transforms, as
  // Frame{frameHalf(0), n / 2, frameHalf(1)}: work memory that the first
  // pass reads whole before anything writes to it (n >= 64).
  float* frameHalf(int half) const { return half == 0 ? t_.br : t_.bi; }
  // The planned bins of window[j] * x[j] into `row`. Allocates nothing.
  void powerBins(const float* x, const float* window, float* row);
  // Lanes of the kernel that transforms size n.
  int Width(int n) const;

  // Everything a transform of one size needs; kernels read it.
  struct Tables {
    int n = 0, m = 0;
    bool firstRadix4 = false;
    const float* c = nullptr;  // cos and sin of 2 pi k / n, k < n / 4 (and a margin)
    const float* s = nullptr;
    const float* first = nullptr;  // first-pass twiddles
    int passes = 0;                // middle passes, lengths m/4.. down to 16
    int len[8] = {};
    const float* pass[8] = {};  // per pass: w, w^2, w^3 for p < len / 4, six planar arrays
    const float* lastD = nullptr;  // last pass: (c - s) / sqrt 2 and (c + s) / sqrt 2
    const float* lastU = nullptr;
    float *ar = nullptr, *ai = nullptr, *br = nullptr, *bi = nullptr;  // work, m each
  };
  struct BinTables {
    int n = 0;
    int width = 4;             // bins per vector of the kernel that runs
    const int* offset = nullptr;  // per bin
    const int* forward = nullptr;  // per vector at bins g*width+1..: row offset, or -1
    const int* reverse = nullptr;  // per vector at bins g*width..: row offset, or -1
  };

  // A kernel: the transform into each kind of output.
  struct KernelFns {
    int width;
    int minN;  // smaller sizes go to the baseline
    void (*rdft)(const Tables&, float* a);
    void (*power)(const Tables&, const float* x, const float* win, float* out);
    void (*bins)(const Tables&, const BinTables&, const float* x, const float* win, float* row);
    const float* (*powerInWork)(const Tables&, const Frame& x, const float* win);
  };

 private:
  const KernelFns& KernelFor(int n) const;

  const KernelFns* wide_;  // null: baseline only
  Tables t_;
  BinTables b_;
#if !defined(QUORLAX_FREESTANDING)
  // Prepare's and PlanBins' own memory; the freestanding profile has no heap
  // and takes the caller's (PrepareIn, PlanBinsIn).
  std::vector<float> store_;  // tables and work arrays of t_
  std::vector<int> binStore_;
#endif
};
