// Decoding against the FFT floor: the least any decoder of the protocol must
// spend is one 2048-point real transform per hop. Paired rounds on one
// thread's CPU clock: FFTW's fastest r2c plan over every hop's frame of the
// stream, then one pass of the decoder (or listener) over the same stream,
// then FFTW again; a round's share is the floor (mean of its two FFTW
// batches) over the pass. Reported: the median share of seven rounds.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <time.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/AnalysisSizes.h"
#include "ZunCoreLib_api.h"
#include "bench_streams.h"
#include "fftooura/fftsg.h"

namespace {

constexpr int kRounds = 7;
constexpr int kPush = 1024;

double cpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + 1e-9 * ts.tv_nsec;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// FFTW r2c over the frames of a stream, one per hop, straight from an
// aligned copy of it (out of place: the input stays as it is).
class FftwFloor {
 public:
  FftwFloor(const std::vector<float>& stream, int window, int hop, long hops)
      : window_(window), hop_(hop), hops_(hops) {
    const size_t size = static_cast<size_t>(hops) * hop + window;
    in_ = fftwf_alloc_real(size);
    std::fill(in_, in_ + size, 0.0f);
    std::copy(stream.begin(), stream.begin() + std::min(stream.size(), size), in_);
    out_ = fftwf_alloc_complex(window / 2 + 1);
    // Planning overwrites its arrays, so plan on scratch of the same alignment.
    float* scratch = fftwf_alloc_real(window);
    plan_ = fftwf_plan_dft_r2c_1d(window, scratch, out_, FFTW_PATIENT);
    fftwf_free(scratch);
  }
  ~FftwFloor() {
    fftwf_destroy_plan(plan_);
    fftwf_free(out_);
    fftwf_free(in_);
  }
  FftwFloor(const FftwFloor&) = delete;
  FftwFloor& operator=(const FftwFloor&) = delete;

  // CPU seconds for one transform per hop of the stream.
  double Batch() {
    const double t0 = cpuNow();
    for (long i = 0; i < hops_; ++i) {
      fftwf_execute_dft_r2c(plan_, in_ + static_cast<size_t>(i) * hop_, out_);
      benchmark::DoNotOptimize(out_);
    }
    benchmark::ClobberMemory();
    return cpuNow() - t0;
  }

 private:
  int window_, hop_;
  long hops_;
  float* in_;
  fftwf_complex* out_;
  fftwf_plan plan_;
};

// One pass of the streaming decoder: 1024-sample pushes, drained after every
// event. Returns the messages that passed their check.
long decodePass(void* h, const std::vector<float>& stream) {
  std::vector<float> chunk(kPush);
  char text[30];
  long good = 0;
  for (size_t pos = 0; pos + kPush <= stream.size(); pos += kPush) {
    std::copy(stream.begin() + pos, stream.begin() + pos + kPush, chunk.begin());
    for (int ev = QUORLAX_DecodeAudioBuffer(chunk.data(), kPush, h); ev != QUORLAX_NOT_READY;
         ev = QUORLAX_DecodeAudioBuffer(nullptr, 0, h))
      if (ev == QUORLAX_MESSAGE_COMPLETE) good += QUORLAX_GetDecodedData(text, h) == 9;
  }
  return good;
}

long listenPass(QUORLAX_Listener* l, const std::vector<float>& stream) {
  QUORLAX_Message m;
  long good = 0;
  for (size_t pos = 0; pos + kPush <= stream.size(); pos += kPush) {
    QUORLAX_ListenerPush(l, stream.data() + pos, kPush);
    while (QUORLAX_ListenerNext(l, &m) == 1) good += m.ok;
  }
  return good;
}

// Args: mode, rate, scene (0: the stream of transmissions, 1: with a talker
// under it, 2: its faint noise alone), listener (0: QUORLAX_DecodeAudioBuffer),
// and the transform kernel (0: the SSE2 baseline, 1: the widest this CPU runs).
void BM_FloorShare(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  const bool listener = state.range(3) != 0;
  CFFTOoura::PreferKernel(state.range(4) ? CFFTOoura::Kernel::kAuto : CFFTOoura::Kernel::kBaseline);
  const std::vector<float>& stream =
      state.range(2) == 2 ? qbench::quietStreamFor(mode, rate) : qbench::streamFor(mode, rate, state.range(2) == 1);
  const int window = QUORLAX::AnalysisWindowFor(rate);
  const int hop = QUORLAX::AnalysisHopFor(rate);
  const long hops = static_cast<long>(stream.size() / kPush * kPush / hop);
  void* h = nullptr;
  QUORLAX_Listener* l = nullptr;
  int error = 0;
  if (!stream.empty()) {
    if (listener) {
      l = QUORLAX_ListenerCreate(mode, rate, &error);
    } else {
      h = QUORLAX_Create();
      if (QUORLAX_Configure(mode, rate, kPush, h) != 0) {
        QUORLAX_Destroy(h);
        h = nullptr;
      }
    }
  }
  CFFTOoura::PreferKernel(CFFTOoura::Kernel::kAuto);
  if (h == nullptr && l == nullptr) {
    state.SkipWithError("no stream or configuration refused");
    return;
  }
  FftwFloor fftw(stream, window, hop, hops);
  auto pass = [&] { return listener ? listenPass(l, stream) : decodePass(h, stream); };
  std::vector<double> shares, floorNs, oursNs;
  long good = 0;
  for (auto _ : state) {
    pass();  // warm-up: caches, and a steady state of the stream
    for (int r = 0; r < kRounds; ++r) {
      const double before = fftw.Batch();
      const double t0 = cpuNow();
      good = pass();
      const double ours = cpuNow() - t0;
      const double after = fftw.Batch();
      const double floor = 0.5 * (before + after);
      shares.push_back(floor / ours);
      floorNs.push_back(1e9 * floor / hops);
      oursNs.push_back(1e9 * ours / hops);
    }
  }
  state.counters["share"] = median(shares);
  state.counters["share_lo"] = *std::min_element(shares.begin(), shares.end());
  state.counters["share_hi"] = *std::max_element(shares.begin(), shares.end());
  state.counters["fftw_ns_hop"] = median(floorNs);
  state.counters["ours_ns_hop"] = median(oursNs);
  state.counters["x_realtime"] = 1e9 / (median(oursNs) * (rate / hop));
  state.counters["ok_per_pass"] = static_cast<double>(good);
  if (h != nullptr) QUORLAX_Destroy(h);
  if (l != nullptr) QUORLAX_ListenerDestroy(l);
}

// mode, rate, scene, listener, kernel
void args(benchmark::internal::Benchmark* b) {
  for (int kernel : {1, 0}) {
    for (int listener : {1, 0})
      for (int mode : {2, 5})
        for (int rate : {44100, 48000}) b->Args({mode, rate, 0, listener, kernel});
    for (int scene : {1, 2})
      for (int mode : {2, 5})
        for (int rate : {44100, 48000}) b->Args({mode, rate, scene, 1, kernel});
  }
}

}  // namespace

BENCHMARK(BM_FloorShare)
    ->Apply(args)
    ->ArgNames({"mode", "rate", "scene", "listener", "wide"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
