// The following listener's parts on their own: Reed-Solomon erasures
// against the encoder's code, the readers' sample history in block floating
// point, tones measured at exact frequencies against a double-precision sum,
// the peak between powers, and the clock that learns a tempo.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ReedSolomon.h"
#include "core/Arena.h"
#include "core/ErasureDecode.h"
#include "core/TokenFollow.h"
#include "core/ToneMatch.h"

using namespace QUORLAX;

namespace {

// A codeword of the protocol's code for 12 random symbols, on-air order.
std::vector<int> Codeword(std::mt19937& rng) {
  int message[12];
  for (int& m : message) m = static_cast<int>(rng() % 32);
  ReedSolomon rs;
  rs.SetMessage(message, 12);
  rs.Encode();
  std::vector<int> code(kCodeSymbols);
  rs.GetCode(code.data());
  return code;
}

// Within reach (2 errors + erasures <= 8) the sent word comes back, with the
// positions changed counted; beyond it, a word that is returned is still a
// codeword (decoding it again changes nothing).
TEST(ErasureDecode, CorrectsWithinReachOnly) {
  const struct {
    int errors, erasures;
    bool reach;
  } table[] = {{0, 0, true}, {4, 0, true}, {0, 8, true}, {3, 2, true}, {2, 4, true}, {1, 6, true},
               {5, 0, false}, {3, 3, false}, {1, 7, false}};
  std::mt19937 rng(7);
  for (const auto& t : table) {
    int recovered = 0;
    for (int trial = 0; trial < 50; ++trial) {
      const std::vector<int> sent = Codeword(rng);
      std::vector<int> got = sent;
      std::vector<int> positions(kCodeSymbols);
      for (int p = 0; p < kCodeSymbols; ++p) positions[p] = p;
      std::shuffle(positions.begin(), positions.end(), rng);
      // Errors first, then erasures (whose values are garbage, or right).
      for (int k = 0; k < t.errors; ++k) got[positions[k]] ^= 1 + static_cast<int>(rng() % 31);
      std::vector<int> erased(positions.begin() + t.errors, positions.begin() + t.errors + t.erasures);
      for (int p : erased) got[p] = static_cast<int>(rng() % 32);
      int corrected[kCodeSymbols], changed = -1;
      const bool ok = DecodeWithErasures(got.data(), erased.data(), t.erasures, corrected, &changed);
      if (t.reach) {
        ASSERT_TRUE(ok) << t.errors << " errors, " << t.erasures << " erasures";
        ASSERT_EQ(std::vector<int>(corrected, corrected + kCodeSymbols), sent);
        int differ = 0;
        for (int p = 0; p < kCodeSymbols; ++p) differ += got[p] != sent[p];
        EXPECT_EQ(changed, differ);
      } else if (ok) {
        int again[kCodeSymbols], none = -1;
        ASSERT_TRUE(DecodeWithErasures(corrected, nullptr, 0, again, &none));
        EXPECT_EQ(none, 0);
        recovered += std::vector<int>(corrected, corrected + kCodeSymbols) == sent;
      }
    }
    // Beyond reach the sent word is never found by chance more than rarely.
    if (!t.reach) {
      EXPECT_LE(recovered, 2) << t.errors << " errors, " << t.erasures << " erasures";
    }
  }
  int word[kCodeSymbols] = {}, out[kCodeSymbols];
  const int outside[] = {20};
  EXPECT_FALSE(DecodeWithErasures(word, outside, 1, out, nullptr));
  EXPECT_FALSE(DecodeWithErasures(word, outside, 9, out, nullptr));
}

// Each block keeps its own scale: a loud block and a quiet one both come
// back within half a step of their loudest sample's scale; the block still
// filling reads exactly; not a number is 0 and the loudest is held at
// kLoudest; a peak that rounds up to the top keeps its sign; a stretch is
// held only while it lies within the capacity.
TEST(SampleHistory, BlocksKeepTheirOwnScale) {
  std::vector<unsigned char> memory(1 << 16);
  Arena arena(memory.data(), memory.size());
  SampleHistory h(1000, arena);
  ASSERT_EQ(h.Capacity() % SampleHistory::kBlock, 0);
  ASSERT_GE(h.Capacity(), 1000);
  std::mt19937 rng(3);
  std::normal_distribution<float> g(0.0f, 1.0f);
  std::vector<float> x(2500);
  for (size_t i = 0; i < x.size(); ++i) x[i] = g(rng) * (i / SampleHistory::kBlock % 2 == 0 ? 100.0f : 1e-4f);
  x[100] = NAN;
  x[200] = 1e30f;
  x[300] = std::nextafter(128.0f, 0.0f);
  x[400] = -std::nextafter(32768.0f, 0.0f);
  // In uneven pieces, as callers push.
  for (size_t done = 0; done < x.size();) {
    const int n = std::min<int>(static_cast<int>(x.size() - done), 1 + static_cast<int>(rng() % 97));
    h.Append(x.data() + done, n);
    done += static_cast<size_t>(n);
  }
  ASSERT_EQ(h.End(), 2500);
  const long long from = h.End() - h.Capacity();
  EXPECT_TRUE(h.Holds(from, h.Capacity()));
  EXPECT_FALSE(h.Holds(from - 1, 10));
  EXPECT_FALSE(h.Holds(h.End() - 5, 6));
  std::vector<float> y(static_cast<size_t>(h.Capacity()));
  h.Read(from, h.Capacity(), y.data());
  for (long long p = from; p < h.End(); ++p) {
    const long long block = p / SampleHistory::kBlock * SampleHistory::kBlock;
    float loudest = 0.0f;
    for (long long q = block; q < block + SampleHistory::kBlock && q < h.End(); ++q) {
      float v = x[static_cast<size_t>(q)];
      v = v != v ? 0.0f : std::min(std::fabs(v), SampleHistory::kLoudest);
      loudest = std::max(loudest, v);
    }
    float want = x[static_cast<size_t>(p)];
    want = want != want ? 0.0f : std::min(want, SampleHistory::kLoudest);
    const bool waiting = p >= h.End() - h.End() % SampleHistory::kBlock;
    const float got = y[static_cast<size_t>(p - from)];
    if (waiting)
      ASSERT_EQ(got, want) << p;
    else
      ASSERT_NEAR(got, want, std::ldexp(loudest, 1 - SampleHistory::kBits)) << p;
  }
  h.Append(nullptr, 3);
  h.Read(h.End() - 3, 3, y.data());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(y[static_cast<size_t>(i)], 0.0f);
}

// A tone's energy over a stretch, with and without raised-cosine edges (at
// most half the stretch each), as the windowed sum in double precision gives
// it (of the samples as held), to a few parts in 10^4 of the strongest; and
// what a tone of amplitude 1 reads.
TEST(ToneBank, EnergiesAsTheDoubleSum) {
  std::vector<unsigned char> memory(1 << 17);
  Arena arena(memory.data(), memory.size());
  SampleHistory h(20000, arena);
  const float rate = 44100.0f;
  std::mt19937 rng(9);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<float> x(20000);
  const double pi = 3.14159265358979323846;
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = static_cast<float>(0.3 * std::sin(2 * pi * 3000.3 * i / rate + 0.4) + noise(rng));
  h.Append(x.data(), static_cast<int>(x.size()));
  std::vector<float> held(x.size());
  h.Read(0, static_cast<int>(x.size()), held.data());
  const float hz[] = {3000.3f, 2000.0f, 3100.0f, 4000.0f, 5000.0f, 6000.0f};
  ToneBank bank;
  bank.Tune(hz, 6, rate);
  ASSERT_EQ(bank.Count(), 6);
  for (int n : {501, 4000, 4285}) {
    for (int edge : {0, 50, 428}) {
      float e[ToneBank::kMaxTones];
      bank.Measure(h, 1234, n, edge, e);
      double strongest = 0.0;
      double want[6];
      const int e2 = std::min(edge, n / 2);
      for (int j = 0; j < 6; ++j) {
        double re = 0.0, im = 0.0;
        for (int k = 0; k < n; ++k) {
          double w = 1.0;
          if (k < e2) w = 0.5 * (1 - std::cos(pi / e2 * (k + 0.5)));
          if (k >= n - e2) w = 0.5 * (1 - std::cos(pi / e2 * ((n - 1 - k) + 0.5)));
          const double phase = 2 * pi * hz[j] / rate * k;
          re += w * held[1234 + static_cast<size_t>(k)] * std::cos(phase);
          im -= w * held[1234 + static_cast<size_t>(k)] * std::sin(phase);
        }
        want[j] = re * re + im * im;
        strongest = std::max(strongest, want[j]);
      }
      for (int j = 0; j < 6; ++j) EXPECT_NEAR(e[j], want[j], 3e-4 * strongest) << n << " " << edge << " " << j;
      // The tone at 0.3 reads 0.09 once divided by the scale (within the noise).
      EXPECT_NEAR(e[0] / bank.Scale(), 0.09, 0.09 * (n < 1000 ? 0.3 : 0.1)) << n << " " << edge;
    }
  }
}

// The peak of a parabola in logarithms, between three powers a step apart.
TEST(PeakOffset, FindsTheVertexAndTies) {
  for (float at : {-0.45f, -0.2f, 0.0f, 0.13f, 0.4f}) {
    auto power = [&](float x) { return std::exp(-2.0f * (x - at) * (x - at)); };
    EXPECT_NEAR(PeakOffset(power(-1.0f), power(0.0f), power(1.0f)), at, 1e-4f) << at;
  }
  EXPECT_EQ(PeakOffset(1.0f, 4.0f, 4.0f), 0.5f);    // half way: a tie with the upper neighbour
  EXPECT_EQ(PeakOffset(4.0f, 4.0f, 1.0f), -0.5f);
  EXPECT_EQ(PeakOffset(1.0f, 2.0f, 3.0f), 0.0f);    // not a peak
  EXPECT_EQ(PeakOffset(0.0f, 2.0f, 1.0f), 0.0f);    // nothing beside it
  EXPECT_EQ(PeakOffset(2.0f, 2.0f, 2.0f), 0.0f);    // flat
}

// Tokens that arrive 1.5 % late each, measured with a little noise, teach
// the clock the period and where the door's boundary is; a measurement that
// is not a number is ignored; the period never leaves its range.
TEST(TokenClock, LearnsTheTempo) {
  const float token = 4608.0f, period = token * 1.015f, boundary = 37.0f;
  TokenClock clock;
  clock.Begin(1000000000LL, 0.0f, 0.03f * token, token, 0.012f * token);
  std::mt19937 rng(4);
  std::normal_distribution<float> jitter(0.0f, 2.0f);
  for (int k = 1; k <= 19; ++k) {
    const float at = static_cast<float>(k) + 0.47f;
    const float truth = boundary + (at - 1.0f) * period;
    const float said = clock.Boundary() + (at - 1.0f) * clock.Period();
    clock.Correct(at, truth - said + jitter(rng), 4.0f);
  }
  EXPECT_NEAR(clock.Period(), period, 0.5f);
  EXPECT_NEAR(clock.Boundary(), boundary, 6.0f);
  EXPECT_EQ(clock.At(clock.StartOf(1)), 1000000000LL + static_cast<long long>(std::floor(clock.Boundary() + 0.5f)));
  const float before = clock.Period();
  clock.Correct(5.0f, NAN, 4.0f);
  EXPECT_EQ(clock.Period(), before);
  for (int k = 0; k < 50; ++k) clock.Correct(20.0f, 1e6f, 1.0f);
  EXPECT_LE(clock.Period(), token * 1.04f + 0.01f);
}

}  // namespace
