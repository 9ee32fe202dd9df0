// Heap bytes that QUORLAX_Configure allocates, per mode and rate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include <atomic>
#include <cstdlib>
#include <new>

#include "ZunCoreLib_api.h"

namespace {
std::atomic<long long> gBytes{0};
std::atomic<long long> gCount{0};
// Out of line, so the compiler does not pair inlined new and free calls.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }
}  // namespace

// Counting replacements for the global allocation functions of this program.
void* operator new(std::size_t n) {
  gBytes += static_cast<long long>(n);
  ++gCount;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  gBytes += static_cast<long long>(n);
  ++gCount;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

void BM_ConfigureBytes(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  void* h = QUORLAX_Create();
  long long bytes = 0, count = 0;
  int rc = 0;
  for (auto _ : state) {
    const long long b0 = gBytes, c0 = gCount;
    rc = QUORLAX_Configure(mode, rate, 1024, h);
    bytes = gBytes - b0;
    count = gCount - c0;
  }
  if (rc != 0) state.SkipWithError("configure failed");
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["allocations"] = static_cast<double>(count);
  QUORLAX_Destroy(h);
}

// Bytes a listener holds: its creation, and what an hour of hearing adds
// (a transmission every few seconds, read by several readers each).
void BM_ListenerBytes(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  long long created = 0, live = 0;
  for (auto _ : state) {
    const long long b0 = gBytes;
    int error = 0;
    QUORLAX_Listener* l = QUORLAX_ListenerCreate(mode, rate, &error);
    if (l == nullptr) {
      state.SkipWithError("listener refused");
      return;
    }
    created = gBytes - b0;
    void* h = QUORLAX_Create();
    QUORLAX_Configure(mode == 5 ? 3 : mode, rate, 4096, h);
    QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
    std::vector<float> tx(static_cast<size_t>(rate * 3), 0.0f), block(4096);
    size_t at = 0;
    int n;
    while ((n = QUORLAX_GetEncodedAudioBuffer(block.data(), h)) > 0) {
      std::copy(block.begin(), block.begin() + n, tx.begin() + at);
      at += static_cast<size_t>(n);
    }
    QUORLAX_Destroy(h);
    const long long b1 = gBytes;
    QUORLAX_Message m;
    for (int i = 0; i < 20; ++i) {
      QUORLAX_ListenerPush(l, tx.data(), static_cast<int>(tx.size()));
      while (QUORLAX_ListenerNext(l, &m) == 1) {
      }
    }
    live = created + (gBytes - b1);
    QUORLAX_ListenerDestroy(l);
  }
  state.counters["bytes_created"] = static_cast<double>(created);
  state.counters["bytes_after_20_messages"] = static_cast<double>(live);
}

void args(benchmark::internal::Benchmark* b) {
  for (int mode : {2, 3, 4, 5, 6})
    for (int rate : {44100, 48000}) b->Args({mode, rate});
  b->Args({2, 22050});
}

}  // namespace

BENCHMARK(BM_ConfigureBytes)->Apply(args)->ArgNames({"mode", "rate"})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListenerBytes)->Apply(args)->ArgNames({"mode", "rate"})->Unit(benchmark::kMillisecond)->Iterations(1);
