// Real forward FFT: ours against FFTW3f r2c, and the per-hop spectrum.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "SpectralAnalysis.h"
#include "fftooura/fftsg.h"

namespace {

// Thread CPU seconds: other processes on a shared machine do not count.
double cpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

std::vector<float> noise(int n) {
  std::vector<float> x(n);
  unsigned s = 12345u;
  for (float& v : x) {
    s = s * 1664525u + 1013904223u;
    v = static_cast<float>(s >> 8) / 16777216.0f - 0.5f;
  }
  return x;
}

// Second argument: the kernel (0 baseline, 1 AVX2).
CFFTOoura::Kernel kernelArg(benchmark::State& state) {
  const CFFTOoura::Kernel k = state.range(1) ? CFFTOoura::Kernel::kAvx2 : CFFTOoura::Kernel::kBaseline;
  if (!CFFTOoura::KernelAvailable(k)) state.SkipWithError("kernel not on this CPU");
  return k;
}

void BM_Ours(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> src = noise(n);
  std::vector<float> a(n);
  CFFTOoura fft(kernelArg(state));
  for (auto _ : state) {
    // Copy as FFTW's in-place run does not need: kept tiny next to the transform.
    std::copy(src.begin(), src.end(), a.begin());
    fft.rdft(n, 1, a.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

// FFTW r2c, in place (n + 2 floats) or out of place.
void fftwRun(benchmark::State& state, bool inPlace) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> src = noise(n);
  float* in = fftwf_alloc_real(n + 2);
  fftwf_complex* out = inPlace ? reinterpret_cast<fftwf_complex*>(in) : fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  for (auto _ : state) {
    std::copy(src.begin(), src.end(), in);
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  if (!inPlace) fftwf_free(out);
  fftwf_free(in);
  state.SetItemsProcessed(state.iterations());
}

void BM_FftwInPlace(benchmark::State& state) { fftwRun(state, true); }
void BM_FftwOutOfPlace(benchmark::State& state) { fftwRun(state, false); }

// Ours over FFTW (out of place), timed back to back in one run so load
// changes hit both alike.
void BM_RatioOursOverFftw(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> src = noise(n);
  std::vector<float> a(n);
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  CFFTOoura fft(kernelArg(state));
  const int reps = 64;
  double ours = 0.0, theirs = 0.0;
  for (auto _ : state) {
    auto t0 = cpuNow();
    for (int r = 0; r < reps; ++r) {
      std::copy(src.begin(), src.end(), a.begin());
      fft.rdft(n, 1, a.data());
      benchmark::DoNotOptimize(a.data());
      benchmark::ClobberMemory();
    }
    auto t1 = cpuNow();
    for (int r = 0; r < reps; ++r) {
      std::copy(src.begin(), src.end(), in);
      fftwf_execute(plan);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
    auto t2 = cpuNow();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0.0;
  state.counters["ours_ns"] = 1e9 * ours / (reps * static_cast<double>(state.iterations()));
  state.counters["fftw_ns"] = 1e9 * theirs / (reps * static_cast<double>(state.iterations()));
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

// One decoder hop's spectrum: window, transform, energy per bin.
void BM_SpectrumDoFFT(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  CFFTOoura::PreferKernel(kernelArg(state));
  QUORLAX::SpectralAnalysis sa(QUORLAX::kEnergySpectrum, n, n, n / 8);
  CFFTOoura::PreferKernel(CFFTOoura::Kernel::kAuto);
  std::vector<float> frame = noise(n);
  for (auto _ : state) {
    sa.doFFT(frame.data(), sa.mSpecMag, nullptr);
    benchmark::DoNotOptimize(sa.mSpecMag);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Ours)->ArgsProduct({{256, 512, 1024, 2048}, {0, 1}})->ArgNames({"n", "avx2"});
BENCHMARK(BM_FftwInPlace)->RangeMultiplier(2)->Range(256, 2048);
BENCHMARK(BM_FftwOutOfPlace)->RangeMultiplier(2)->Range(256, 2048);
BENCHMARK(BM_RatioOursOverFftw)->ArgsProduct({{256, 512, 1024, 2048}, {0, 1}})->ArgNames({"n", "avx2"});
BENCHMARK(BM_SpectrumDoFFT)->ArgsProduct({{1024, 2048}, {0, 1}})->ArgNames({"n", "avx2"});
