// What goes on air: frames, timing, tones, overlays and the drain.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <map>

#include "EncoderAudibleMultiToneMode.h"
#include "EncoderCustomMultiToneMode.h"
#include "Globals.h"
#include "SpectralAnalysis.h"
#include "test_support.h"

using namespace qtest;

namespace {

TEST(EncoderFrame, GoldenFrames) {
  QUORLAX::EncoderAudibleMultiTone enc(44100.f, 1024, 2048);
  const std::map<std::string, std::vector<int>> frames = {
      {"000000000", {1, 19, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 1, 8, 13, 8, 4, 8, 10}},
      {"123456789", {1, 19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 13, 31, 21, 23, 7, 15, 12, 5}},
      {"hellovvvv", {1, 19, 17, 14, 21, 21, 24, 31, 31, 31, 31, 29, 23, 16, 20, 30, 25, 26, 2, 7}},
      {"HELLOVVVV", {1, 19, 17, 14, 21, 21, 24, 31, 31, 31, 31, 29, 23, 16, 20, 30, 25, 26, 2, 7}},
  };
  for (const auto& [text, frame] : frames) EXPECT_EQ(enc.BuildFrame(text.c_str(), 9), frame) << text;
  EXPECT_EQ(enc.BuildFrame("vvvvvvvvv", 9)[11], 279 % 32);
}

TEST(EncoderTiming, LengthsPerRate) {
  const struct {
    int mode;
    float rate;
    size_t samples;
  } cases[] = {{2, 44100.f, 92160}, {3, 44100.f, 92160}, {4, 44100.f, 92160}, {6, 44100.f, 92160},
               {5, 44100.f, 92160}, {2, 48000.f, 100300}, {3, 48000.f, 100300}, {2, 22050.f, 46080}};
  for (const auto& k : cases) {
    Handle h(k.mode, k.rate);
    EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h), int(k.samples));
    EXPECT_EQ(Drain(h).size(), k.samples) << "mode " << k.mode << " rate " << k.rate;
  }
}

TEST(EncoderTiming, FadesAndSilentTails) {
  Handle h(2, 44100.f);
  const std::vector<float> x = Encode(h, "hello1234");
  ASSERT_EQ(x.size(), 92160u);
  // Token 0: rises over 345 samples to 0.7, no silent tail.
  float peak = 0;
  for (int n = 0; n < 4608; ++n) peak = std::max(peak, std::fabs(x[n]));
  EXPECT_NEAR(peak, 0.7f, 1e-3);
  for (int n = 0; n < 345; ++n) EXPECT_LE(std::fabs(x[n]), 0.7f * n / 345 + 1e-6f) << n;
  float tail0 = 0;
  for (int n = 4378; n < 4608; ++n) tail0 = std::max(tail0, std::fabs(x[n]));
  EXPECT_GT(tail0, 0.0f);
  for (int n = 4378; n < 4608; ++n) EXPECT_LE(std::fabs(x[n]), 0.7f * (4608 - n) / 230 + 1e-6f) << n;
  // Every later token: faded out over 460 samples, then 230 samples of silence.
  for (int j = 1; j < 20; ++j) {
    for (int n = 4378; n < 4608; ++n) ASSERT_EQ(x[j * 4608 + n], 0.0f) << "token " << j << " sample " << n;
    float held = 0;
    for (int n = 345; n <= 3918; ++n) held = std::max(held, std::fabs(x[j * 4608 + n]));
    EXPECT_NEAR(held, j == 1 ? 0.675f : 0.65f, 0.01f) << j;
    for (int n = 3919; n < 4378; ++n)
      ASSERT_LE(std::fabs(x[j * 4608 + n]), (j == 1 ? 0.675f : 0.65f) * (4378 - n) / 460 + 1e-6f) << j;
  }
}

// The strongest spectral peaks of a held stretch of token j.
std::vector<int> PeakBins(const std::vector<float>& x, int token, int samplesPerToken, int count) {
  QUORLAX::SpectralAnalysis sa(QUORLAX::kEnergySpectrum, 2048, 2048, 256);
  std::vector<float> frame(x.begin() + token * samplesPerToken + 600, x.begin() + token * samplesPerToken + 2648);
  sa.doFFT(frame.data(), sa.mSpecMag, nullptr);
  std::vector<int> bins;
  for (int k = 2; k < sa.mSpecSize - 1; ++k)
    if (sa.mSpecMag[k] > sa.mSpecMag[k - 1] && sa.mSpecMag[k] >= sa.mSpecMag[k + 1]) bins.push_back(k);
  std::sort(bins.begin(), bins.end(), [&](int a, int b) { return sa.mSpecMag[a] > sa.mSpecMag[b]; });
  bins.resize(count);
  std::sort(bins.begin(), bins.end());
  return bins;
}

TEST(EncoderTones, EveryTokenSitsOnItsShiftedGrid) {
  using FreqFn = void (*)(int, float, int, float**);
  const struct {
    int mode;
    float rate;
    FreqFn freqs;
    float shiftHz;
  } cases[] = {
      {2, 44100.f, Globals::getFreqsFromIdxAudibleMultiTone, 258.3984375f},
      {3, 44100.f, Globals::getFreqsFromIdxNonAudibleMultiTone, 86.1328125f},
      {4, 44100.f, Globals::getFreqsFromIdxCompressionMultiTone, 64.599609375f},
      {6, 44100.f, Globals::getFreqsFromIdxCustomMultiTone, 64.599609375f},
      {2, 48000.f, Globals::getFreqsFromIdxAudibleMultiTone, 258.3984375f},
      {3, 48000.f, Globals::getFreqsFromIdxNonAudibleMultiTone, 86.1328125f},
  };
  for (const auto& k : cases) {
    Handle h(k.mode, k.rate);
    QUORLAX::EncoderAudibleMultiTone frameOnly(k.rate, 1024, 2048);
    const std::vector<int> frame = frameOnly.BuildFrame("hello1234", 9);
    const std::vector<float> x = Encode(h, "hello1234");
    const int spt = Globals::samplesPerToken(k.rate);
    for (int j = 0; j < 20; ++j) {
      float f[2];
      float* fp = f;
      k.freqs(frame[j], k.rate, 2048, &fp);
      const float shift = j < 2 ? 0.0f : ((j - 1) % 3) * k.shiftHz;
      const std::vector<int> peaks = PeakBins(x, j, spt, j < 2 ? 1 : 2);
      const float binHz = k.rate / 2048;
      for (size_t p = 0; p < peaks.size(); ++p)
        EXPECT_NEAR(peaks[p] * binHz, f[p] + shift, binHz * 0.51f) << "mode " << k.mode << " rate " << k.rate << " token " << j;
    }
  }
}

TEST(EncoderOverlay, MelodySynthAndSignature) {
  Handle h(2, 44100.f);
  const std::vector<float> plain = Encode(h, "hello1234");
  EXPECT_EQ(Encode(h, "HELLO1234"), plain);
  EXPECT_EQ(Encode(h, "hello1234", 3), plain);  // unknown types add nothing
  EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 2, std::string(30, 'a').c_str(), 30, h), 138240);
  EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 2, std::string(5, 'a').c_str(), 5, h), 92160);
  const std::vector<float> melody = Drain(h);
  EXPECT_NE(melody, plain);
  EXPECT_EQ(std::vector<float>(melody.begin() + 5 * 4608, melody.end()),
            std::vector<float>(plain.begin() + 5 * 4608, plain.end()));

  // Synth at -20 dB is a tenth of the synth at 0 dB (same second, same notes).
  for (int attempt = 0; attempt < 3; ++attempt) {
    const time_t before = time(nullptr);
    QUORLAX_SetSynthVolume(0.0f, h);
    const std::vector<float> loud = Encode(h, "hello1234", 1);
    QUORLAX_SetSynthVolume(-20.0f, h);
    const std::vector<float> quiet = Encode(h, "hello1234", 1);
    QUORLAX_SetSynthVolume(0.0f, h);
    if (time(nullptr) != before) continue;
    double maxErr = 0, maxSynth = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
      maxSynth = std::max(maxSynth, std::fabs(double(loud[i]) - plain[i]));
      maxErr = std::max(maxErr, std::fabs((double(quiet[i]) - plain[i]) - (double(loud[i]) - plain[i]) / 10));
    }
    EXPECT_GT(maxSynth, 0.5);
    EXPECT_LT(maxErr, 1e-5);
    break;
  }

  std::vector<float> sig(200000, 0.6f);
  EXPECT_EQ(QUORLAX_SetAudioSignature(200000, sig.data(), h), 0);
  std::vector<float> signed1 = Encode(h, "hello1234");
  for (size_t i = 0; i < plain.size(); ++i) {
    const float expect = std::min(1.0f, std::max(-1.0f, 0.6f + plain[i]));
    ASSERT_EQ(signed1[i], expect) << i;
  }
  sig.assign(100, -0.9f);
  QUORLAX_SetAudioSignature(100, sig.data(), h);
  signed1 = Encode(h, "hello1234");
  for (size_t i = 100; i < plain.size(); ++i) ASSERT_EQ(signed1[i], plain[i]);
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(signed1[i], std::max(-1.0f, -0.9f + plain[i]));
  for (int removal : {0, -5}) {
    QUORLAX_SetAudioSignature(100, sig.data(), h);
    QUORLAX_SetAudioSignature(removal, sig.data(), h);
    EXPECT_EQ(Encode(h, "hello1234"), plain);
  }
  QUORLAX_SetAudioSignature(100, sig.data(), h);
  QUORLAX_SetAudioSignature(100, nullptr, h);
  EXPECT_EQ(Encode(h, "hello1234"), plain);
}

TEST(EncoderDrain, BufferSizesAndReplay) {
  const struct {
    int bufferSize, fullBuffers, last;
  } cases[] = {{1024, 90, 0}, {1000, 92, 160}, {92160, 1, 0}, {100000, 0, 92160}};
  for (const auto& k : cases) {
    Handle h(2, 44100.f, k.bufferSize);
    std::vector<float> buf(k.bufferSize);
    EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(buf.data(), h), 0);  // nothing encoded yet
    QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
    for (int i = 0; i < k.fullBuffers; ++i) ASSERT_EQ(QUORLAX_GetEncodedAudioBuffer(buf.data(), h), k.bufferSize);
    if (k.last) {
      EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(buf.data(), h), k.last);
    }
    EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(buf.data(), h), 0);
    const std::vector<float> firstBlock(buf.begin(), buf.end());
    EXPECT_EQ(QUORLAX_ResetEncodedAudioBuffer(h), 0);
    std::vector<float> again(k.bufferSize);
    QUORLAX_GetEncodedAudioBuffer(again.data(), h);
    QUORLAX_ResetEncodedAudioBuffer(h);
    const std::vector<float> all = Drain(h, k.bufferSize);
    EXPECT_EQ(std::vector<float>(all.begin(), all.begin() + std::min<size_t>(k.bufferSize, all.size())),
              std::vector<float>(again.begin(), again.begin() + std::min<size_t>(k.bufferSize, all.size())));
  }
}

TEST(EncoderInput, RejectedRequestsKeepTheTransmission) {
  Handle h(2, 44100.f);
  const std::vector<float> good = Encode(h, "hello1234");
  const struct {
    const char* text;
    int size, type;
    const char* melody;
    int melodySize;
  } bad[] = {{"hello123", 8, 0, nullptr, 0},    {"hello12345", 10, 0, nullptr, 0}, {"hellow234", 9, 0, nullptr, 0},
             {"hello 234", 9, 0, nullptr, 0},   {nullptr, 9, 0, nullptr, 0},       {"hello1234", -1, 0, nullptr, 0},
             {"hello1234", 9, 2, nullptr, 5},   {"hello1234", 9, 2, "a", -1},
             {"hello1234", 9, 2, std::string(96, 'a').c_str(), 96}};
  for (const auto& b : bad) {
    QUORLAX_ResetEncodedAudioBuffer(h);
    EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer(b.text, b.size, b.type, b.melody, b.melodySize, h),
              QUORLAX_ERROR_INVALID_ARGUMENT)
        << (b.text ? b.text : "null") << " size " << b.size;
    EXPECT_EQ(Drain(h), good);
  }
  // 95 notes is the longest melody that fits ten seconds.
  EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 2, std::string(95, 'a').c_str(), 95, h), 95 * 4608);
}

TEST(EncoderBand, FixedWhenBuilt) {
  // Another handle's configuration must not change what this one sends.
  Handle h(2, 44100.f);
  Handle custom(6, 44100.f);
  const std::vector<float> audible = Encode(h, "hello1234");
  const std::vector<float> customBefore = Encode(custom, "hello1234");
  Handle other(2, 22050.f);
  EXPECT_EQ(QUORLAX_SetCustomBaseFreq(13000.f, 2, other), 0);
  EXPECT_EQ(Encode(h, "hello1234"), audible);
  EXPECT_EQ(Encode(custom, "hello1234"), customBefore);
  QUORLAX_SetCustomBaseFreq(12000.f, 1, other);
  // At 22050 Hz the shift is the 44100 Hz step, not twice it.
  QUORLAX::EncoderAudibleMultiTone half(22050.f, 1024, 1024);
  EXPECT_EQ(half.mBand.shiftHz, 258.3984375f);
  QUORLAX::EncoderCustomMultiTone full(48000.f, 1024, 2048);
  EXPECT_EQ(full.mBand.shiftHz, 64.599609375f);
}

// CRC32 of the float samples, taken once from this implementation after the
// bit-exact checks above passed: any change to the signal on air shows here.
TEST(EncoderGolden, ChecksumsPerModeAndRate) {
  const struct {
    int mode;
    float rate;
    const char* text;
    uint32_t crc;
  } golden[] = {
      {2, 44100.f, "hello1234", 0x5ca6f36bu},
      {2, 44100.f, "00000000v", 0x2a46875au},
      {3, 44100.f, "hello1234", 0xd055b4a5u},
      {3, 44100.f, "00000000v", 0x47dcf502u},
      {4, 44100.f, "hello1234", 0x75345603u},
      {4, 44100.f, "00000000v", 0xe070b46du},
      {6, 44100.f, "hello1234", 0xe8d2701bu},
      {6, 44100.f, "00000000v", 0x48c5dcf0u},
      {2, 48000.f, "hello1234", 0x25891e25u},
      {2, 48000.f, "00000000v", 0x544c6fafu},
      {3, 48000.f, "hello1234", 0xebe00eau},
      {3, 48000.f, "00000000v", 0x93b511abu},
      {4, 48000.f, "hello1234", 0xf1f50bd4u},
      {4, 48000.f, "00000000v", 0x3b3f9dcdu},
      {6, 48000.f, "hello1234", 0x3ddd8419u},
      {6, 48000.f, "00000000v", 0xac4cab9bu},
      {2, 22050.f, "hello1234", 0x4f1a1ea2u},
  };
  for (const auto& g : golden) {
    const std::vector<float> x = Transmission(g.mode, g.rate, g.text);
    const uint32_t crc = Crc32(x.data(), x.size() * sizeof(float));
    EXPECT_EQ(crc, g.crc) << "{" << g.mode << ", " << g.rate << ".f, \"" << g.text << "\", 0x" << std::hex << crc
                          << "u},";
  }
}

}  // namespace
