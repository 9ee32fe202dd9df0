// Protocol tables: these values are what peers on the air agree on.
#include <gtest/gtest.h>

#include <cmath>

#include "Globals.h"
#include "ZunCoreLib_api.h"

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

// Every band's nine tones to the float, through the Globals maps and through
// the C interface's band query.
struct GridRow {
  int mode;
  float rate;
  float (*fn)(int, float, int);
  float tones[9];
};
const GridRow kGrids[] = {
    {QUORLAX_MODE_AUDIBLE, 44100.f, Globals::getToneFromIdxAudibleMultiTone,
     {3294.58008f, 4048.24219f, 4801.9043f, 5555.56641f, 6309.22852f, 7062.89062f, 7816.55273f, 8570.21484f,
      9323.87695f}},
    {QUORLAX_MODE_NONAUDIBLE, 44100.f, Globals::getToneFromIdxNonAudibleMultiTone,
     {17807.959f, 18066.3574f, 18324.7559f, 18583.1543f, 18841.5527f, 19099.9512f, 19358.3496f, 19616.748f,
      19875.1465f}},
    {QUORLAX_MODE_COMPRESSION, 44100.f, Globals::getToneFromIdxCompressionMultiTone,
     {13996.582f, 14190.3809f, 14384.1797f, 14577.9785f, 14771.7773f, 14965.5762f, 15159.375f, 15353.1738f,
      15546.9727f}},
    {QUORLAX_MODE_CUSTOM, 44100.f, Globals::getToneFromIdxCustomMultiTone,
     {11993.9941f, 12187.793f, 12381.5918f, 12575.3906f, 12769.1895f, 12962.9883f, 13156.7871f, 13350.5859f,
      13544.3848f}},
    {QUORLAX_MODE_AUDIBLE, 48000.f, Globals::getToneFromIdxAudibleMultiTone,
     {3304.6875f, 4054.6875f, 4804.6875f, 5554.6875f, 6304.6875f, 7054.6875f, 7804.6875f, 8554.6875f, 9304.6875f}},
    {QUORLAX_MODE_NONAUDIBLE, 48000.f, Globals::getToneFromIdxNonAudibleMultiTone,
     {17789.0625f, 18046.875f, 18304.6875f, 18562.5f, 18820.3125f, 19078.125f, 19335.9375f, 19593.75f,
      19851.5625f}},
    {QUORLAX_MODE_COMPRESSION, 48000.f, Globals::getToneFromIdxCompressionMultiTone,
     {13992.1875f, 14179.6875f, 14367.1875f, 14554.6875f, 14742.1875f, 14929.6875f, 15117.1875f, 15304.6875f,
      15492.1875f}},
    {QUORLAX_MODE_CUSTOM, 48000.f, Globals::getToneFromIdxCustomMultiTone,
     {12000.0f, 12187.5f, 12375.0f, 12562.5f, 12750.0f, 12937.5f, 13125.0f, 13312.5f, 13500.0f}},
    {QUORLAX_MODE_AUDIBLE, 22050.f, Globals::getToneFromIdxAudibleMultiTone,
     {3294.58008f, 4048.24219f, 4801.9043f, 5555.56641f, 6309.22852f, 7062.89062f, 7816.55273f, 8570.21484f,
      9323.87695f}},
};

TEST(MultiToneMaps, ToneGridsToTheFloat) {
  for (const GridRow& g : kGrids) {
    const int window = g.rate == 22050.f ? 1024 : 2048;
    Globals::init(window, g.rate);
    QUORLAX_BandInfo info;
    ASSERT_EQ(QUORLAX_GetBandInfo(g.mode, g.rate, &info), 0) << g.mode << " " << g.rate;
    EXPECT_EQ(info.mode, g.mode);
    EXPECT_EQ(info.num_tones, 9);
    for (int i = 0; i < 9; ++i) {
      EXPECT_EQ(g.fn(i, g.rate, window), g.tones[i]) << "mode " << g.mode << " rate " << g.rate << " tone " << i;
      EXPECT_EQ(info.tone_hz[i], g.tones[i]) << "mode " << g.mode << " rate " << g.rate << " tone " << i;
    }
    EXPECT_EQ(info.low_hz, g.tones[0]);
    EXPECT_GT(info.high_hz, g.tones[8]);
  }
  // Offsets from window 1024 double the non-audible step in bins.
  Globals::init(1024, 22050.f);
  EXPECT_NEAR(Globals::getToneFromIdxNonAudibleMultiTone(8, 22050.f, 1024), 21942.334f, 1e-3);
  Globals::init(2048, 44100.f);
}

// The band query names each band, reports its decoding value and shift, and
// refuses what does not fit or is not a band.
TEST(BandInfo, NamesShiftsAndRefusals) {
  const struct {
    int mode;
    float rate;
    int result;
    const char* name;
    int decoding;
    float shiftHz;
  } cases[] = {
      {QUORLAX_MODE_AUDIBLE, 44100.f, 0, "audible", 0, 258.398438f},
      {QUORLAX_MODE_NONAUDIBLE, 48000.f, 0, "nonaudible", 1, 86.1328125f},
      {QUORLAX_MODE_COMPRESSION, 44100.f, 0, "compression", 2, 64.5996094f},
      {QUORLAX_MODE_CUSTOM, 44100.f, 0, "custom", 3, 64.5996094f},
      {QUORLAX_MODE_AUDIBLE, 22050.f, 0, "audible", 0, 258.398438f},
      {QUORLAX_MODE_NONAUDIBLE, 22050.f, -7, "", 0, 0.0f},
      {QUORLAX_MODE_AUDIBLE, 16000.f, -7, "", 0, 0.0f},
      {QUORLAX_MODE_ALL, 44100.f, -1, "", 0, 0.0f},
      {7, 44100.f, -1, "", 0, 0.0f},
      {QUORLAX_MODE_AUDIBLE, -1.0f, -7, "", 0, 0.0f},
  };
  for (const auto& c : cases) {
    QUORLAX_BandInfo info{};
    ASSERT_EQ(QUORLAX_GetBandInfo(c.mode, c.rate, &info), c.result) << c.mode << " " << c.rate;
    if (c.result != 0) continue;
    EXPECT_STREQ(info.name, c.name);
    EXPECT_EQ(info.decoding_mode, c.decoding);
    EXPECT_FLOAT_EQ(info.shift_hz, c.shiftHz);
    EXPECT_FLOAT_EQ(info.high_hz, info.tone_hz[8] + 2 * info.shift_hz);
  }
  EXPECT_EQ(QUORLAX_GetBandInfo(QUORLAX_MODE_AUDIBLE, 44100.f, nullptr), -4);
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
