// Heap bytes that QUORLAX_Configure allocates, per mode and rate.
#include <benchmark/benchmark.h>

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

void args(benchmark::internal::Benchmark* b) {
  for (int mode : {2, 3, 4, 5, 6})
    for (int rate : {44100, 48000}) b->Args({mode, rate});
  b->Args({2, 22050});
}

}  // namespace

BENCHMARK(BM_ConfigureBytes)->Apply(args)->ArgNames({"mode", "rate"})->Unit(benchmark::kMicrosecond);
