// Encoder and decoder through the C interface.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "ZunCoreLib_api.h"
#include "bench_streams.h"

namespace {

using qbench::streamFor;

// Encoder: one transmission (synthesis plus draining it a buffer at a time).
// Args: mode, rate, melody (0 none, 1 type 2 with 20 notes).
void BM_Encode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  const bool melody = state.range(2) != 0;
  void* h = QUORLAX_Create();
  if (QUORLAX_Configure(mode, rate, 1024, h) != 0) {
    state.SkipWithError("configure failed");
    QUORLAX_Destroy(h);
    return;
  }
  const char* notes = "0123456789abcdefghij";
  std::vector<float> buf(1024);
  int samples = 0;
  for (auto _ : state) {
    samples = QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, melody ? 2 : 0, melody ? notes : nullptr,
                                              melody ? 20 : 0, h);
    while (QUORLAX_GetEncodedAudioBuffer(buf.data(), h) > 0) {
    }
    benchmark::DoNotOptimize(buf.data());
  }
  state.counters["samples"] = samples;
  QUORLAX_Destroy(h);
}

// Decoder: the stream pushed in 1024-sample buffers, drained after every
// event. Reports audio seconds per CPU second and the messages heard.
void BM_Decode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  const std::vector<float>& stream = streamFor(mode, rate, state.range(2) != 0);
  void* h = QUORLAX_Create();
  if (stream.empty() || QUORLAX_Configure(mode, rate, 1024, h) != 0) {
    state.SkipWithError("configure failed");
    QUORLAX_Destroy(h);
    return;
  }
  std::vector<float> chunk(1024);
  char text[30];
  long messages = 0, good = 0;
  for (auto _ : state) {
    for (size_t pos = 0; pos + 1024 <= stream.size(); pos += 1024) {
      std::copy(stream.begin() + pos, stream.begin() + pos + 1024, chunk.begin());
      for (int ev = QUORLAX_DecodeAudioBuffer(chunk.data(), 1024, h); ev != QUORLAX_NOT_READY;
           ev = QUORLAX_DecodeAudioBuffer(nullptr, 0, h)) {
        if (ev == QUORLAX_MESSAGE_COMPLETE) {
          ++messages;
          good += QUORLAX_GetDecodedData(text, h) == 9;
        }
      }
    }
  }
  const double seconds = static_cast<double>(stream.size()) / rate;
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["msgs_per_pass"] = static_cast<double>(messages) / state.iterations();
  state.counters["ok_per_pass"] = static_cast<double>(good) / state.iterations();
  QUORLAX_Destroy(h);
}

// The listener on the same stream, pushed in 1024-sample buffers.
void BM_Listen(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const float rate = static_cast<float>(state.range(1));
  const std::vector<float>& stream = streamFor(mode, rate, state.range(2) != 0);
  int error = 0;
  QUORLAX_Listener* l = stream.empty() ? nullptr : QUORLAX_ListenerCreate(mode, rate, &error);
  if (l == nullptr) {
    state.SkipWithError("listener refused");
    return;
  }
  long messages = 0;
  QUORLAX_Message m;
  for (auto _ : state) {
    for (size_t pos = 0; pos + 1024 <= stream.size(); pos += 1024) {
      QUORLAX_ListenerPush(l, stream.data() + pos, 1024);
      while (QUORLAX_ListenerNext(l, &m) == 1) messages += m.ok;
    }
  }
  const double seconds = static_cast<double>(stream.size()) / rate;
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["ok_per_pass"] = static_cast<double>(messages) / state.iterations();
  QUORLAX_ListenerDestroy(l);
}

void encodeArgs(benchmark::internal::Benchmark* b) {
  for (int mode : {2, 3, 4, 6})
    for (int rate : {44100, 48000})
      for (int melody : {0, 1}) b->Args({mode, rate, melody});
}

// mode, rate, talker
void decodeArgs(benchmark::internal::Benchmark* b) {
  for (int mode : {2, 3, 4, 5, 6})
    for (int rate : {44100, 48000}) b->Args({mode, rate, 0});
  b->Args({2, 22050, 0});
  for (int mode : {2, 5})
    for (int rate : {44100, 48000}) b->Args({mode, rate, 1});
}

}  // namespace

BENCHMARK(BM_Encode)->Apply(encodeArgs)->ArgNames({"mode", "rate", "melody"})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode)->Apply(decodeArgs)->ArgNames({"mode", "rate", "talker"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Listen)->Apply(decodeArgs)->ArgNames({"mode", "rate", "talker"})->Unit(benchmark::kMillisecond);
