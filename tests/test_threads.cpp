// Handles configured one after another on the main thread (configuration
// writes process-wide tables), then each used from its own thread at once:
// every thread encodes and decodes its own messages in its own band, rate
// and push size. Listeners, senders and queries, which read no process-wide
// setting, run on many threads while another configures handles. Built with
// -DQUORLAX_TSAN=ON this is the race check.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
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

// What one thread does with its own listeners and senders, and the queries
// it asks: every answer must equal the one a single thread got.
struct Work {
  int mode;
  float rate;
  float base;
  int separation;
  bool callerMemory;
  const char* text;
};

struct Answers {
  std::vector<float> sent;
  std::vector<std::string> heard;  // text, band, ok, start, end, level and confidence bits
  std::vector<unsigned char> queries;
};

std::string Describe(const QUORLAX_MessageEx& m) {
  unsigned level, confidence;
  std::memcpy(&level, &m.level_db, 4);
  std::memcpy(&confidence, &m.confidence, 4);
  return std::string(m.text) + " band " + std::to_string(m.band) + " ok " + std::to_string(m.ok) + " " +
         std::to_string(m.start) + ".." + std::to_string(m.end) + " " + std::to_string(level) + " " +
         std::to_string(confidence);
}

template <class T>
void Record(std::vector<unsigned char>& out, const T& value) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

Answers RunWork(const Work& s, int round) {
  Answers a;
  int error = 0;
  std::vector<unsigned char> senderBlock, listenerBlock;
  QUORLAX_Sender* sender;
  if (s.callerMemory) {
    senderBlock.resize(static_cast<size_t>(QUORLAX_SenderSize(s.mode, s.rate, s.base, s.separation)));
    sender = QUORLAX_SenderInit(senderBlock.data(), static_cast<int64_t>(senderBlock.size()), s.mode, s.rate, s.base,
                                s.separation, &error);
  } else {
    sender = QUORLAX_SenderCreate(s.mode, s.rate, s.base, s.separation, &error);
  }
  if (sender == nullptr || QUORLAX_SenderStart(sender, s.text) != 0) return a;
  std::vector<float> block(997 + 101 * static_cast<size_t>(round));
  while (int n = QUORLAX_SenderRender(sender, block.data(), static_cast<int32_t>(block.size())))
    a.sent.insert(a.sent.end(), block.begin(), block.begin() + n);
  QUORLAX_SenderDestroy(sender);

  QUORLAX_ListenerConfig c;
  QUORLAX_ListenerConfigInit(&c, s.mode, s.rate);
  c.custom_base_hz = s.base;
  c.custom_separation = s.separation;
  QUORLAX_Listener* l;
  if (s.callerMemory) {
    listenerBlock.resize(static_cast<size_t>(QUORLAX_ListenerSize(&c)));
    l = QUORLAX_ListenerInit(listenerBlock.data(), static_cast<int64_t>(listenerBlock.size()), &c, &error);
  } else {
    l = QUORLAX_ListenerCreateEx(&c, &error);
  }
  if (l == nullptr) return a;
  std::vector<float> stream = Silence(3000);
  Append(stream, a.sent);
  Append(stream, Silence(4000));
  const size_t chunk = 512 + 333 * static_cast<size_t>(round);
  QUORLAX_MessageEx m;
  m.size = sizeof m;
  for (size_t pos = 0; pos < stream.size(); pos += chunk) {
    QUORLAX_ListenerPush(l, stream.data() + pos, static_cast<int>(std::min(chunk, stream.size() - pos)));
    while (QUORLAX_ListenerNextEx(l, &m) == 1) a.heard.push_back(Describe(m));
  }
  QUORLAX_ListenerFlush(l);
  while (QUORLAX_ListenerNextEx(l, &m) == 1) a.heard.push_back(Describe(m));
  QUORLAX_ListenerDestroy(l);

  Record(a.queries, QUORLAX_IsSupported(s.mode, s.rate, s.base, s.separation));
  QUORLAX_ModeInfo info;
  std::memset(&info, 0, sizeof info);
  info.size = sizeof info;
  Record(a.queries, QUORLAX_GetModeInfo(s.mode, s.rate, s.base, s.separation, &info));
  Record(a.queries, info);
  for (int band : {2, 3, 4, 6}) {
    QUORLAX_BandInfoEx b;
    std::memset(&b, 0, sizeof b);
    b.size = sizeof b;
    Record(a.queries, QUORLAX_GetBandInfoEx(band, s.rate, s.base, s.separation, &b));
    Record(a.queries, b);
  }
  Record(a.queries, QUORLAX_ListenerSize(&c));
  Record(a.queries, QUORLAX_SenderSize(s.mode, s.rate, s.base, s.separation));
  return a;
}

TEST(Threads, ListenersSendersAndQueriesWhileHandlesAreConfigured) {
  const std::vector<Work> setups = {
      {2, 22050.0f, 12000.0f, 1, false, "thread001"}, {2, 44100.0f, 12000.0f, 1, true, "thread002"},
      {3, 48000.0f, 12000.0f, 1, false, "thread003"}, {4, 44100.0f, 12000.0f, 1, true, "thread004"},
      {5, 48000.0f, 12000.0f, 1, true, "thread005"},  {6, 44100.0f, 9000.0f, 2, false, "thread006"},
      {6, 48000.0f, 12000.0f, 1, true, "thread007"},  {6, 22050.0f, 4000.0f, 1, false, "thread008"},
  };
  const int rounds = 2;
  std::vector<Answers> want;
  for (const Work& s : setups) {
    want.push_back(RunWork(s, 0));
    ASSERT_EQ(want.back().heard.size(), 1u) << s.text;
  }

  std::atomic<bool> done{false};
  std::atomic<int> configured{0};
  std::thread configurer([&] {
    std::mt19937 rng(9);
    const float rates[] = {22050.0f, 44100.0f, 48000.0f, 32000.0f};
    while (!done.load()) {
      void* h = QUORLAX_Create();
      QUORLAX_SetCustomBaseFreq(3000.0f + static_cast<float>(rng() % 9000), static_cast<int>(rng() % 4), h);
      QUORLAX_Configure(2 + static_cast<int>(rng() % 5), rates[rng() % 4], 1024, h);
      QUORLAX_SetSynthVolume(-static_cast<float>(rng() % 20), h);
      QUORLAX_BandInfo b;
      QUORLAX_GetBandInfo(QUORLAX_MODE_CUSTOM, 44100.0f, &b);
      QUORLAX_Destroy(h);
      configured.fetch_add(1);
    }
  });
  std::vector<std::vector<Answers>> got(setups.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < setups.size(); ++i)
    threads.emplace_back([&, i] {
      for (int r = 0; r < rounds; ++r) got[i].push_back(RunWork(setups[i], r));
    });
  for (std::thread& t : threads) t.join();
  done.store(true);
  configurer.join();

  EXPECT_GT(configured.load(), 0);
  for (size_t i = 0; i < setups.size(); ++i)
    for (int r = 0; r < rounds; ++r) {
      const Answers& a = got[i][static_cast<size_t>(r)];
      EXPECT_TRUE(a.sent == want[i].sent) << setups[i].text << " round " << r;
      EXPECT_EQ(a.heard, want[i].heard) << setups[i].text << " round " << r;
      EXPECT_TRUE(a.queries == want[i].queries) << setups[i].text << " round " << r;
    }
}

}  // namespace
