// Protocol tables: these values are what peers on the air agree on.
#include <gtest/gtest.h>

#include <cmath>

#include "Globals.h"

namespace {

TEST(Alphabet, CharactersAndIndices) {
  struct Case {
    char c;
    int idx;
  };
  const Case cases[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'A', 10}, {'j', 19}, {'J', 19}, {'v', 31},
                        {'V', 31}, {'w', -1}, {'W', -1}, {' ', -1}, {'[', -1}, {'`', -1}, {'\xe1', -1},
                        {'\0', -1}, {'/', -1}, {':', -1}, {'@', -1}};
  for (const Case& k : cases) EXPECT_EQ(Globals::getIdxFromChar(k.c), k.idx) << "char " << int(k.c);
  EXPECT_EQ(Globals::getCharFromIdx(19), 'j');
  EXPECT_EQ(Globals::getCharFromIdx(32), '0');
  EXPECT_EQ(Globals::getCharFromIdx(-1), '0');
  for (int i = 0; i < 32; ++i) EXPECT_EQ(Globals::getIdxFromChar(Globals::getCharFromIdx(i)), i);
}

TEST(Constants, FrameAndTokenLengths) {
  EXPECT_EQ(Globals::numMessageTokens, 18);
  EXPECT_EQ(Globals::numTotalTokens, 20);
  EXPECT_EQ(Globals::getIdxFromChar(Globals::frontDoorTokens[0]), 1);
  EXPECT_EQ(Globals::getIdxFromChar(Globals::frontDoorTokens[1]), 19);
  const struct {
    float rate;
    int samples;
  } cases[] = {{44100.f, 4608}, {48000.f, 5015}, {22050.f, 2304}, {11050.f, 1154}};
  for (const auto& k : cases) EXPECT_EQ(Globals::samplesPerToken(k.rate), k.samples) << k.rate;
}

TEST(Init, ShiftStepsByWindow) {
  const struct {
    int window;
    float audible, nonAudible, compression;
  } cases[] = {{2048, 258.3984375f, 86.1328125f, 64.599609375f},
               {1024, 516.796875f, 172.265625f, 129.19921875f},
               {512, 1033.59375f, 344.53125f, 258.3984375f},
               {256, 2067.1875f, 689.0625f, 516.796875f}};
  for (const auto& k : cases) {
    for (float rate : {44100.f, 48000.f}) {
      Globals::init(k.window, rate);
      EXPECT_FLOAT_EQ(Globals::freqOffsetForAudibleMultiTone, k.audible);
      EXPECT_FLOAT_EQ(Globals::freqOffsetForNonAudibleMultiTone, k.nonAudible);
      EXPECT_FLOAT_EQ(Globals::freqOffsetForCompressionMultiTone, k.compression);
      EXPECT_FLOAT_EQ(Globals::freqOffsetForCustomMultiTone, k.compression);
    }
  }
  Globals::zunsSeparationForCustomMultiTone = 2;
  Globals::init(2048, 44100.f);
  EXPECT_EQ(Globals::nBinsOffsetForCustomMultiTone, 4);
  EXPECT_EQ(Globals::freqOffsetForCustomMultiTone, 86.1328125f);
  Globals::zunsSeparationForCustomMultiTone = 1;
  Globals::init(2048, 44100.f);
  EXPECT_EQ(Globals::freqOffsetForAudibleMultiTone, 258.3984375f);
}

TEST(MultiToneMaps, PairsAndInverse) {
  int pair[2];
  int* p = pair;
  for (int token : {0, 32, -1}) {
    Globals::getIdxsFromIdxAudibleMultiTone(token, &p);
    EXPECT_EQ(pair[0], 0);
    EXPECT_EQ(pair[1], 1);
  }
  const struct {
    int a, b, token;
  } cases[] = {{2, 7, 19}, {7, 2, 19}, {7, 5, 31}, {0, 2, 1}, {5, 6, 30}, {1, 2, 8},  {3, 8, 25},
               {5, 8, -1}, {6, 7, -1}, {6, 8, -1}, {7, 8, -1}, {3, 3, -1}, {0, 9, -1}, {-1, 2, -1}};
  for (const auto& k : cases) {
    EXPECT_EQ(Globals::getIdxTokenFromIdxsTonesAudibleMultiTone(k.a, k.b), k.token) << k.a << "," << k.b;
    EXPECT_EQ(Globals::getIdxTokenFromIdxsTonesCustomMultiTone(k.a, k.b), k.token);
  }
  int previous[2] = {-1, -1};
  for (int t = 0; t < 32; ++t) {
    Globals::getIdxsFromIdxCompressionMultiTone(t, &p);
    EXPECT_LT(pair[0], pair[1]);
    // Lexicographic order of (lower, upper).
    EXPECT_TRUE(pair[0] > previous[0] || (pair[0] == previous[0] && pair[1] > previous[1]));
    previous[0] = pair[0];
    previous[1] = pair[1];
    EXPECT_EQ(Globals::getIdxTokenFromIdxsTonesNonAudibleMultiTone(pair[0], pair[1]), t);
    EXPECT_EQ(Globals::getIdxTokenFromIdxsTonesCompressionMultiTone(pair[1], pair[0]), t);
  }
}

TEST(MultiToneMaps, ToneGridsToTheFloat) {
  Globals::init(2048, 44100.f);
  using ToneFn = float (*)(int, float, int);
  const struct {
    ToneFn fn;
    float rate;
    int window;
    int firstBin, stepBins;
    float tone0, tone8;
  } cases[] = {
      {Globals::getToneFromIdxAudibleMultiTone, 44100.f, 2048, 153, 35, 3294.580f, 9323.877f},
      {Globals::getToneFromIdxNonAudibleMultiTone, 44100.f, 2048, 827, 12, 17807.959f, 19875.146f},
      {Globals::getToneFromIdxCompressionMultiTone, 44100.f, 2048, 650, 9, 13996.582f, 15546.973f},
      {Globals::getToneFromIdxCustomMultiTone, 44100.f, 2048, 557, 9, 11993.994f, 13544.385f},
      {Globals::getToneFromIdxAudibleMultiTone, 48000.f, 2048, 141, 32, 3304.688f, 9304.688f},
      {Globals::getToneFromIdxNonAudibleMultiTone, 48000.f, 2048, 759, 11, 17789.062f, 19851.562f},
      {Globals::getToneFromIdxCompressionMultiTone, 48000.f, 2048, 597, 8, 13992.188f, 15492.188f},
      {Globals::getToneFromIdxCustomMultiTone, 48000.f, 2048, 512, 8, 12000.000f, 13500.000f},
  };
  for (const auto& k : cases) {
    const float binHz = k.rate / k.window;
    for (int i = 0; i < 9; ++i) {
      const float expected =
          (static_cast<float>(k.stepBins) * binHz) * static_cast<float>(i) + static_cast<float>(k.firstBin) * binHz;
      EXPECT_EQ(k.fn(i, k.rate, k.window), expected) << "rate " << k.rate << " tone " << i;
    }
    EXPECT_NEAR(k.fn(0, k.rate, k.window), k.tone0, 1e-3);
    EXPECT_NEAR(k.fn(8, k.rate, k.window), k.tone8, 1e-3);
  }
  // Offsets from window 1024 double the non-audible step in bins.
  Globals::init(1024, 22050.f);
  EXPECT_NEAR(Globals::getToneFromIdxNonAudibleMultiTone(8, 22050.f, 1024), 21942.334f, 1e-3);
  Globals::init(2048, 44100.f);
}

TEST(MultiToneMaps, TokenFrequenciesAndLoudness) {
  Globals::init(2048, 44100.f);
  float f[2], l[2];
  float* fp = f;
  float* lp = l;
  Globals::getFreqsFromIdxAudibleMultiTone(0, 44100.f, 2048, &fp);
  Globals::getLoudnessAudibleMultiToneFromIdx(0, &lp);
  EXPECT_NEAR(f[0], 3294.580f, 1e-3);
  EXPECT_NEAR(f[1], 4048.242f, 1e-3);
  EXPECT_EQ(l[0], 1.0f);
  EXPECT_EQ(l[1], 1.0f);
  Globals::getFreqsFromIdxNonAudibleMultiTone(7, 44100.f, 2048, &fp);
  Globals::getLoudnessNonAudibleMultiToneFromIdx(7, &lp);
  EXPECT_NEAR(f[0], 17807.959f, 1e-3);
  EXPECT_NEAR(f[1], 19875.146f, 1e-3);
  EXPECT_FLOAT_EQ(l[0], 0.85f);
  EXPECT_FLOAT_EQ(l[1], 1.0f);
  Globals::getLoudnessCustomMultiToneFromIdx(15, &lp);  // tones 2 and 3
  EXPECT_EQ(l[0], 2.0f * 0.15f / 8.0f + 0.85f);
  EXPECT_EQ(l[1], 3.0f * 0.15f / 8.0f + 0.85f);
}

TEST(SingleToneMaps, GridsLoudnessAndNotes) {
  const struct {
    float rate;
    int window;
    float a0, a31, n0, n31;
  } cases[] = {{44100.f, 2048, 3294.580078125f, 9969.873046875f, 16795.8984375f, 21468.603515625f},
               {48000.f, 2048, 3304.6875f, 9843.75f, 16804.6875f, 21890.625f},
               {22050.f, 1024, 3294.580078125f, 9969.873046875f, 16795.8984375f, 21468.603515625f}};
  for (const auto& k : cases) {
    EXPECT_EQ(Globals::getFreqFromIdxAudible(0, k.rate, k.window), k.a0);
    EXPECT_EQ(Globals::getFreqFromIdxAudible(31, k.rate, k.window), k.a31);
    EXPECT_EQ(Globals::getFreqFromIdxNonAudible(0, k.rate, k.window), k.n0);
    EXPECT_EQ(Globals::getFreqFromIdxNonAudible(31, k.rate, k.window), k.n31);
  }
  EXPECT_NEAR(Globals::getLoudnessFromIdx(0), 0.5011872f, 1e-6);
  EXPECT_NEAR(Globals::getLoudnessFromIdx(31), 1.0f, 1e-6);
  EXPECT_NEAR(Globals::getLoudnessFromIdx(32), 1.0225332f, 1e-6);
  const struct {
    int idx;
    float hz;
  } notes[] = {{0, 440.f}, {12, 880.f}, {-12, 220.f}, {1, 466.16379f}, {-1, 415.3047f}};
  for (const auto& n : notes) EXPECT_NEAR(Globals::getMusicalNoteFromIdx(n.idx), n.hz, 1e-3) << n.idx;
}

TEST(Statistics, RankingAndMoments) {
  float a[] = {1, 3, 3, 2};
  EXPECT_EQ(Globals::maxValueIdx(a, 4), 1);
  EXPECT_EQ(Globals::secondValueIdx(a, 4), 2);
  EXPECT_EQ(Globals::secondValue(a, 4), 3.0f);
  float b[] = {5, 1, 4};
  EXPECT_EQ(Globals::secondValueIdx(b, 3), 2);
  float c[] = {1, 5, 1};
  EXPECT_EQ(Globals::secondValueIdx(c, 3), 0);
  int votes[] = {0, 4, 2, 4, 1};
  EXPECT_EQ(Globals::maxValueIdx(votes, 5), 1);
  EXPECT_EQ(Globals::secondValueIdx(votes, 5), 3);
  EXPECT_EQ(Globals::maxValue(votes, 5), 4);
  float single[] = {2};
  EXPECT_EQ(Globals::maxValue(single, 1), 2.0f);
  EXPECT_EQ(Globals::maxValueIdx(single, 1), 0);
  float withNan[] = {NAN, 1, 2};
  EXPECT_EQ(Globals::maxValueIdx(withNan + 1, 2), 1);
  float nanLater[] = {1, NAN, 0.5f};
  EXPECT_EQ(Globals::maxValueIdx(nanLater, 3), 0);
  EXPECT_EQ(Globals::sum(a, 0), 0.0f);
  EXPECT_TRUE(std::isnan(Globals::mean(a, 0)));
  float d[] = {2, 4, 4, 4, 5, 5, 7, 9};
  EXPECT_EQ(Globals::standard_deviation(d, 8), 2.0f);
  float e[] = {1, 3};
  EXPECT_FLOAT_EQ(Globals::standard_deviation(e, 0.0f, 2), std::sqrt(5.0f));
  EXPECT_EQ(Globals::square_sum(e, 2), 10.0f);
}

}  // namespace
