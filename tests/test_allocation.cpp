// The per-hop and per-call paths allocate nothing: counted by replacing the
// global allocator in this test program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "ReedSolomon.h"
#include "SpectralAnalysis.h"
#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORLAX_COUNTING_ALLOCATOR 0  // the sanitizer owns the allocator
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORLAX_COUNTING_ALLOCATOR 0
#endif
#endif
#ifndef QUORLAX_COUNTING_ALLOCATOR
#define QUORLAX_COUNTING_ALLOCATOR 1
#endif

namespace {
std::atomic<long> gAllocations{0};
std::atomic<long> gFailAt{-1};  // the allocation (by count) that runs out of memory; -1: none
}

// Our operator new hands out malloc'd memory, so free is the matching release;
// GCC cannot see that through the replacement.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#if QUORLAX_COUNTING_ALLOCATOR
void* operator new(size_t n) {
  if (++gAllocations == gFailAt.load()) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

using namespace qtest;

namespace {

class Allocation : public testing::Test {
 protected:
  void SetUp() override {
    if (!QUORLAX_COUNTING_ALLOCATOR) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
  }
};

template <typename F>
long AllocationsIn(F&& f) {
  const long before = gAllocations.load();
  f();
  return gAllocations.load() - before;
}

TEST_F(Allocation, FftSpectrumAndReedSolomon) {
  QUORLAX::SpectralAnalysis sa(QUORLAX::kEnergySpectrum, 2048, 2048, 256);
  std::vector<float> frame = Noise(2048, 0.1f, 1);
  EXPECT_EQ(AllocationsIn([&] {
              for (int i = 0; i < 10; ++i) sa.doFFT(frame.data(), sa.mSpecMag, sa.mSpecPhase);
              sa.fftooura->rdft(2048, 1, frame.data());
            }),
            0);
  QUORLAX::ReedSolomon rs;
  rs.SetMessage({1, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13});
  std::vector<int> code;
  rs.GetCode(code);
  code[4] ^= 7;
  EXPECT_EQ(AllocationsIn([&] { rs.Encode(); }), 0);
  rs.SetCode(code);
  EXPECT_EQ(AllocationsIn([&] { rs.Decode(); }), 0);
}

TEST_F(Allocation, DecodingHopsAndDraining) {
  for (int mode : {2, 5}) {
    for (float rate : {44100.f, 48000.f}) {
      Handle h(mode, rate);
      const std::vector<float> stream = Framed(Transmission(mode == 5 ? 4 : mode, rate, "hello1234"), rate);
      Feed(h, stream, 1024);  // the first message sizes the token list
      const std::vector<float> noise = Noise(static_cast<size_t>(rate * 3), 1e-3f, 2);
      long perHop = 0;
      long duringMessage = 0;
      perHop += AllocationsIn([&] { Feed(h, noise, 1024); });
      // Everything but the read-out of a second message.
      bool reading = false;
      for (size_t pos = 0; pos < stream.size(); pos += 1024) {
        const int len = static_cast<int>(std::min<size_t>(1024, stream.size() - pos));
        const long before = gAllocations.load();
        int code = QUORLAX_DecodeAudioBuffer(const_cast<float*>(stream.data() + pos), len, h);
        for (; code != -1; code = QUORLAX_DecodeAudioBuffer(nullptr, 0, h)) {
          if (code == -2) reading = true;
          if (code == -3) break;
        }
        if (reading) duringMessage += gAllocations.load() - before;
        if (code == -3) {
          char text[30];
          EXPECT_EQ(QUORLAX_GetDecodedData(text, h), 9);
          reading = false;
        }
      }
      EXPECT_EQ(perHop, 0) << "mode " << mode << " @ " << rate;
      EXPECT_EQ(duringMessage, 0) << "mode " << mode << " @ " << rate;
    }
  }
  Handle h(2, 44100.f, 1024);
  QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
  std::vector<float> buf(1024);
  EXPECT_EQ(AllocationsIn([&] {
              while (QUORLAX_GetEncodedAudioBuffer(buf.data(), h) > 0) {
              }
            }),
            0);
}

// The listener allocates nothing per hop: not in noise, not while its readers
// read (NothingAfterCreation below covers completed messages too).
TEST_F(Allocation, ListenerHops) {
  for (int mode : {2, 5}) {
    for (float rate : {44100.f, 48000.f}) {
      int error = 0;
      QUORLAX_Listener* l = QUORLAX_ListenerCreate(mode, rate, &error);
      ASSERT_NE(l, nullptr);
      const std::vector<float> noise = Noise(static_cast<size_t>(rate * 3), 1e-3f, 2);
      const std::vector<float> tx = Transmission(mode == 5 ? 4 : mode, rate, "hello1234");
      const int lastTokens = 2 * static_cast<int>(0.10448979586362839f * rate);
      EXPECT_EQ(AllocationsIn([&] {
                  for (size_t pos = 0; pos < noise.size(); pos += 1000)
                    QUORLAX_ListenerPush(l, noise.data() + pos, static_cast<int>(std::min<size_t>(1000, noise.size() - pos)));
                  QUORLAX_ListenerPush(l, tx.data(), static_cast<int>(tx.size()) - lastTokens);
                }),
                0)
          << "mode " << mode << " @ " << rate;
      QUORLAX_ListenerPush(l, tx.data() + tx.size() - lastTokens, lastTokens);
      QUORLAX_ListenerFlush(l);
      QUORLAX_Message m;
      EXPECT_EQ(QUORLAX_ListenerNext(l, &m), 1);
      EXPECT_STREQ(m.text, "hello1234");
      QUORLAX_ListenerDestroy(l);
    }
  }
}

// However a listener was made, nothing allocates after creation: a long
// stream with many messages, none taken for a while (the queue overflows),
// then all taken, then a flush; the same for a sender rendering block by block.
TEST_F(Allocation, NothingAfterCreation) {
  const float rate = 48000.0f;
  std::vector<float> stream = Silence(3000);
  for (int i = 0; i < QUORLAX_LISTENER_QUEUE + 6; ++i) {
    char text[10];
    std::snprintf(text, sizeof text, "alloc%04d", i);
    Append(stream, Transmission(i % 2 ? 3 : 4, rate, text));
    Append(stream, Noise(2000, 1e-4f, static_cast<uint32_t>(i)));
  }
  QUORLAX_ListenerConfig c;
  QUORLAX_ListenerConfigInit(&c, QUORLAX_MODE_ALL, rate);
  c.report_failed = 1;
  std::vector<unsigned char> block(static_cast<size_t>(QUORLAX_ListenerSize(&c)));
  for (bool callerMemory : {false, true}) {
    int error = 0;
    QUORLAX_Listener* l = callerMemory
                              ? QUORLAX_ListenerInit(block.data(), static_cast<int64_t>(block.size()), &c, &error)
                              : QUORLAX_ListenerCreateEx(&c, &error);
    ASSERT_NE(l, nullptr);
    int taken = 0;
    EXPECT_EQ(AllocationsIn([&] {
                for (size_t pos = 0; pos < stream.size(); pos += 4000)
                  QUORLAX_ListenerPush(l, stream.data() + pos, static_cast<int>(std::min<size_t>(4000, stream.size() - pos)));
                QUORLAX_MessageEx m;
                m.size = sizeof m;
                while (QUORLAX_ListenerNextEx(l, &m) == 1) ++taken;
                QUORLAX_ListenerFlush(l);
                while (QUORLAX_ListenerNextEx(l, &m) == 1) ++taken;
              }),
              0)
        << (callerMemory ? "caller's memory" : "library's memory");
    EXPECT_EQ(taken, QUORLAX_LISTENER_QUEUE);
    EXPECT_EQ(QUORLAX_ListenerDropped(l), 6);
    QUORLAX_ListenerDestroy(l);
  }
  EXPECT_EQ(AllocationsIn([&] {
              int error = 0;
              QUORLAX_Listener* l = QUORLAX_ListenerInit(block.data(), static_cast<int64_t>(block.size()), &c, &error);
              QUORLAX_ListenerDestroy(l);
            }),
            0)
      << "made in the caller's memory";

  int error = 0;
  QUORLAX_Sender* s = QUORLAX_SenderCreate(QUORLAX_MODE_AUDIBLE, rate, 0.0f, 0, &error);
  ASSERT_NE(s, nullptr);
  std::vector<float> out(333);
  int samples = 0;
  EXPECT_EQ(AllocationsIn([&] {
              QUORLAX_SenderStart(s, "alloc0000");
              while (int n = QUORLAX_SenderRender(s, out.data(), static_cast<int32_t>(out.size()))) samples += n;
            }),
            0);
  EXPECT_EQ(samples, 20 * 5015);
  QUORLAX_SenderDestroy(s);
}

// Memory that runs out at any one allocation of a call is reported as out of
// memory (-8), never as an unsupported mode, and leaves nothing half made.
TEST_F(Allocation, OutOfMemoryHasItsOwnCode) {
  // Runs `call` with the k-th allocation failing, for every k until it succeeds.
  auto everyFailure = [](const char* what, auto call, auto succeeded) {
    int failures = 0;
    for (long k = 1;; ++k) {
      gFailAt = gAllocations.load() + k;
      const int r = call();
      gFailAt = -1;
      if (succeeded(r)) break;
      EXPECT_EQ(r, QUORLAX_ERROR_OUT_OF_MEMORY) << what << ", allocation " << k;
      ++failures;
      ASSERT_LT(k, 10000) << what;
    }
    EXPECT_GT(failures, 0) << what << " never allocated";
  };
  Handle h;
  everyFailure("configure", [&] { return QUORLAX_Configure(QUORLAX_MODE_ALL, 48000.0f, 1024, h); },
               [](int r) { return r == QUORLAX_OK; });
  Handle empty;
  gFailAt = gAllocations.load() + 1;
  EXPECT_EQ(QUORLAX_Configure(QUORLAX_MODE_AUDIBLE, 44100.0f, 1024, empty), QUORLAX_ERROR_OUT_OF_MEMORY);
  gFailAt = -1;
  EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, empty), QUORLAX_ERROR_NOT_CONFIGURED);
  const std::vector<float> signature(1000, 0.1f);
  everyFailure("signature", [&] { return QUORLAX_SetAudioSignature(1000, signature.data(), h); },
               [](int r) { return r == QUORLAX_OK; });
  QUORLAX_ListenerConfig c;
  QUORLAX_ListenerConfigInit(&c, QUORLAX_MODE_ALL, 48000.0f);
  everyFailure("listener", [&] {
        int error = 0;
        QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&c, &error);
        QUORLAX_ListenerDestroy(l);
        return l != nullptr ? 0 : error;
      }, [](int r) { return r == 0; });
  everyFailure("sender", [&] {
        int error = 0;
        QUORLAX_Sender* s = QUORLAX_SenderCreate(QUORLAX_MODE_AUDIBLE, 48000.0f, 0.0f, 0, &error);
        QUORLAX_SenderDestroy(s);
        return s != nullptr ? 0 : error;
      }, [](int r) { return r == 0; });
}

}  // namespace
