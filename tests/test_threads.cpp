// Handles configured one after another on the main thread (configuration
// writes process-wide tables), then each used from its own thread at once:
// every thread encodes and decodes its own messages in its own band, rate
// and push size. Built with -DQUORLAX_TSAN=ON this is the race check.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using namespace qtest;

namespace {

struct Lane {
  int mode;
  float rate;
  int bufferSize;
  size_t chunk;
  int band;  // what GetDecodedMode must report
  const char* name;
};

struct Outcome {
  int rounds = 0;
  int decoded = 0;
  std::vector<std::string> problems;
};

std::string RandomText(std::mt19937& rng) {
  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";
  std::string s;
  for (int i = 0; i < 9; ++i) s += kAlphabet[rng() % 32];
  return s;
}

void RunLane(void* h, const Lane& s, int rounds, uint32_t seed, std::atomic<int>& ready, Outcome& out) {
  std::mt19937 rng(seed);
  ready.fetch_add(1);
  while (ready.load() >= 0 && ready.load() < 1000) std::this_thread::yield();  // start together
  for (int r = 0; r < rounds; ++r) {
    const std::string text = RandomText(rng);
    const int n = QUORLAX_EncodeDataToAudioBuffer(text.c_str(), 9, 0, nullptr, 0, h);
    if (n <= 0) {
      out.problems.push_back(std::string(s.name) + ": encode returned " + std::to_string(n));
      continue;
    }
    std::vector<float> tx = Drain(h, s.bufferSize);
    if (static_cast<int>(tx.size()) != n) out.problems.push_back(std::string(s.name) + ": drained size differs");
    AddNoise(tx, Power(tx), 20.0f, seed + r);
    const Events ev = Feed(h, Framed(tx, s.rate), s.chunk);
    ++out.rounds;
    bool ok = false;
    for (const Message& m : ev.messages) ok = ok || (m.result == 9 && m.text == text && m.mode == s.band);
    if (ok) {
      ++out.decoded;
    } else {
      std::string got;
      for (const Message& m : ev.messages) got += " " + m.text + "/" + std::to_string(m.result) + "/band" + std::to_string(m.mode);
      out.problems.push_back(std::string(s.name) + ": sent " + text + ", heard:" + (got.empty() ? " nothing" : got));
    }
  }
}

TEST(Threads, HandlesEncodeAndDecodeConcurrently) {
  const std::vector<Lane> setups = {
      {QUORLAX_MODE_AUDIBLE, 44100.0f, 1024, 1024, 0, "audible@44100"},
      {QUORLAX_MODE_NONAUDIBLE, 48000.0f, 512, 333, 1, "nonaudible@48000"},
      {QUORLAX_MODE_COMPRESSION, 44100.0f, 4096, 4096, 2, "compression@44100"},
      {QUORLAX_MODE_ALL, 48000.0f, 2048, 1500, 1, "all@48000"},
      {QUORLAX_MODE_CUSTOM, 44100.0f, 256, 777, 3, "custom@44100"},
      {QUORLAX_MODE_AUDIBLE, 48000.0f, 100, 64, 0, "audible@48000"},
  };
  const int rounds = 3;

  std::vector<void*> handles;
  for (const Lane& s : setups) {
    void* h = QUORLAX_Create();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(QUORLAX_Configure(s.mode, s.rate, s.bufferSize, h), QUORLAX_OK) << s.name;
    handles.push_back(h);
  }

  std::vector<Outcome> outcomes(setups.size());
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < setups.size(); ++i)
    threads.emplace_back(RunLane, handles[i], std::cref(setups[i]), rounds, 1000u + 17u * static_cast<uint32_t>(i),
                         std::ref(ready), std::ref(outcomes[i]));
  while (ready.load() < static_cast<int>(setups.size())) std::this_thread::yield();
  ready.store(1000);
  for (std::thread& t : threads) t.join();

  for (size_t i = 0; i < setups.size(); ++i) {
    EXPECT_EQ(outcomes[i].rounds, rounds) << setups[i].name;
    EXPECT_EQ(outcomes[i].decoded, rounds) << setups[i].name;
    for (const std::string& p : outcomes[i].problems) ADD_FAILURE() << p;
  }
  for (void* h : handles) QUORLAX_Destroy(h);
}

// The same handles decoding one shared stream, each in its own thread: the
// input is read-only and the results must agree with a single-threaded run.
TEST(Threads, SameStreamManyDecoders) {
  std::vector<float> stream = Silence(2048);
  Append(stream, Transmission(QUORLAX_MODE_NONAUDIBLE, 48000.0f, "threads42"));
  Append(stream, Silence(6000));
  Append(stream, Transmission(QUORLAX_MODE_AUDIBLE, 48000.0f, "0v1u2t3s4"));
  Append(stream, Silence(6000));
  Append(stream, Transmission(QUORLAX_MODE_COMPRESSION, 48000.0f, "compress9"));
  Append(stream, Silence(8192));

  constexpr int kDecoders = 4;
  std::vector<void*> handles;
  for (int i = 0; i < kDecoders; ++i) {
    void* h = QUORLAX_Create();
    ASSERT_EQ(QUORLAX_Configure(QUORLAX_MODE_ALL, 48000.0f, 1024, h), QUORLAX_OK);
    handles.push_back(h);
  }
  std::vector<std::vector<std::string>> heard(kDecoders);
  std::vector<std::thread> threads;
  for (int i = 0; i < kDecoders; ++i)
    threads.emplace_back([&, i] {
      const Events ev = Feed(handles[i], stream, 256u + 1000u * static_cast<size_t>(i));
      for (const Message& m : ev.messages) heard[i].push_back(m.text + "/" + std::to_string(m.mode));
    });
  for (std::thread& t : threads) t.join();
  const std::vector<std::string> want = {"threads42/1", "0v1u2t3s4/0", "compress9/2"};
  for (int i = 0; i < kDecoders; ++i) EXPECT_EQ(heard[i], want) << "decoder " << i;
  for (void* h : handles) QUORLAX_Destroy(h);
}

}  // namespace
