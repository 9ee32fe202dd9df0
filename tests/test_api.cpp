// The C interface: configuration, custom re-basing, texts and null handles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "Globals.h"
#include "test_support.h"

using namespace qtest;

namespace {

TEST(ApiVersion, Texts) {
  EXPECT_STREQ(QUORLAX_GetVersion(), "Quorlax version 1.0.0 [QuorlaxSDK]");
  char info[32];
  std::memset(info, 'x', sizeof info);
  EXPECT_EQ(QUORLAX_GetVersionInfo(info), 18);
  EXPECT_STREQ(info, "Quorlax Python SDK");
  EXPECT_EQ(info[19], 'x');  // nothing past the terminating zero
  EXPECT_EQ(QUORLAX_GetVersionInfo(nullptr), QUORLAX_ERROR_INVALID_ARGUMENT);
}

// Every code the interface names has a sentence of its own, unlike any other
// and unlike an unknown code's.
TEST(ApiErrors, EveryCodeHasASentenceOfItsOwn) {
  const int named[] = {QUORLAX_OK,
                       QUORLAX_NOT_READY,
                       QUORLAX_FRONT_DOOR,
                       QUORLAX_MESSAGE_COMPLETE,
                       QUORLAX_ERROR_INVALID_ARGUMENT,
                       QUORLAX_ERROR_NOT_CONFIGURED,
                       QUORLAX_ERROR_BUFFER_FULL,
                       QUORLAX_ERROR_UNSUPPORTED,
                       QUORLAX_ERROR_OUT_OF_MEMORY,
                       QUORLAX_CHECK_FAILED};
  const std::string unknown = QUORLAX_GetErrorText(-12345);
  std::set<std::string> seen;
  for (int code : named) {
    const char* text = QUORLAX_GetErrorText(code);
    ASSERT_NE(text, nullptr) << code;
    EXPECT_GT(std::strlen(text), 5u) << code;
    EXPECT_NE(text, unknown) << code;
    EXPECT_TRUE(seen.insert(text).second) << code << " shares its text: " << text;
  }
  for (int code : {-10, -11, 1, 2, 10, INT32_MIN, INT32_MAX}) EXPECT_EQ(QUORLAX_GetErrorText(code), unknown) << code;
}

TEST(ApiConfigure, ModesAndRates) {
  const struct {
    int mode;
    float rate;
    int bufferSize;
    int result;
    int spectrum;  // values GetSpectrum hands out: half the window
  } cases[] = {
      {2, 44100.f, 1024, 0, 1024},  {2, 48000.f, 1024, 0, 1024}, {2, 22050.f, 1024, 0, 512},
      {3, 44100.f, 1024, 0, 1024},  {4, 48000.f, 512, 0, 1024},  {5, 44100.f, 1024, 0, 1024},
      {5, 48000.f, 1024, 0, 1024},  {6, 48000.f, 1024, 0, 1024}, {3, 22050.f, 1024, -7, 0},
      {4, 22050.f, 1024, -7, 0},    {5, 22050.f, 1024, -7, 0},   {6, 22050.f, 1024, -7, 0},
      {2, 11050.f, 1024, -7, 0},    {2, 11025.f, 1024, -7, 0},   {2, 16000.f, 1024, -7, 0},
      {2, 8000.f, 1024, -7, 0},     {2, 96000.f, 1024, -7, 0},   {2, 0.f, 1024, -7, 0},
      // A 256-sample window: off the protocol's grid, and the pair could not hear itself.
      {2, 32000.f, 1024, -7, 0},    {2, 24000.f, 1024, -7, 0},   {6, 40000.f, 1024, -7, 0},
      {2, -44100.f, 1024, -7, 0},   {2, NAN, 1024, -7, 0},       {2, INFINITY, 1024, -7, 0},
      {2, 44100.f, 0, -7, 0},       {2, 44100.f, -1, -7, 0},     {1, 44100.f, 1024, -1, 0},
      {7, 44100.f, 1024, -1, 0},    {0, 44100.f, 1024, -1, 0},
  };
  for (const auto& k : cases) {
    Handle h(2, 44100.f);  // configured first: a refusal must still empty it
    EXPECT_EQ(QUORLAX_Configure(k.mode, k.rate, k.bufferSize, h), k.result) << k.mode << " @ " << k.rate;
    std::vector<float> spectrum(1025);
    if (k.result == 0) {
      EXPECT_EQ(QUORLAX_GetSpectrum(spectrum.data(), h), k.spectrum);
      EXPECT_GT(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h), 0);
    } else {
      EXPECT_EQ(QUORLAX_GetSpectrum(spectrum.data(), h), QUORLAX_ERROR_NOT_CONFIGURED);
      EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h), QUORLAX_ERROR_NOT_CONFIGURED);
      EXPECT_EQ(QUORLAX_GetDecodedMode(h), -1);
    }
  }
}

TEST(ApiCustom, BaseFrequencyAndRebuild) {
  const float binHz = 44100.f / 2048;
  {
    Handle h(6, 44100.f);
    EXPECT_EQ(QUORLAX_GetDecodingBeginFreq(h), 557 * binHz);
    EXPECT_EQ(QUORLAX_GetDecodingEndFreq(h), 638 * binHz);
    Handle audible(2, 44100.f);
    EXPECT_EQ(QUORLAX_GetDecodingBeginFreq(audible), 0.0f);
    EXPECT_EQ(QUORLAX_GetDecodingEndFreq(audible), 0.0f);
  }
  {
    // Before any configuration the values are only recorded.
    Handle h;
    EXPECT_EQ(QUORLAX_SetCustomBaseFreq(13000.f, 2, h), 0);
    EXPECT_EQ(QUORLAX_Configure(6, 44100.f, 1024, h), 0);
    EXPECT_NEAR(QUORLAX_GetDecodingBeginFreq(h), 13000.f, binHz / 2);
    // Separation 2: tones 3 x 4 bins apart.
    EXPECT_NEAR(QUORLAX_GetDecodingEndFreq(h) - QUORLAX_GetDecodingBeginFreq(h), 9 * 12 * binHz, 1e-2);
    const Events ev = Feed(h, Framed(Encode(h, "custom123"), 44100.f), 1024);
    ASSERT_EQ(ev.messages.size(), 1u);
    EXPECT_EQ(ev.messages[0].text, "custom123");
    EXPECT_EQ(ev.messages[0].mode, 3);
    // Re-basing a custom handle rebuilds its pair: queued audio is gone.
    QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
    EXPECT_EQ(QUORLAX_SetCustomBaseFreq(12000.f, 1, h), 0);
    std::vector<float> buf(1024);
    EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(buf.data(), h), 0);
    EXPECT_NEAR(QUORLAX_GetDecodingBeginFreq(h), 557 * binHz, 1e-3);
  }
  {
    // On another mode the pair is untouched.
    Handle h(2, 44100.f);
    QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
    EXPECT_EQ(QUORLAX_SetCustomBaseFreq(12500.f, 1, h), 0);
    EXPECT_EQ(Drain(h).size(), 92160u);
    QUORLAX_SetCustomBaseFreq(12000.f, 1, h);
  }
  {
    // Refused settings change nothing.
    Handle h(6, 44100.f);
    QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h);
    const float begin = QUORLAX_GetDecodingBeginFreq(h);
    const struct {
      float base;
      int separation, result;
    } refused[] = {{12000.f, -1, -4}, {21000.f, 1, -7}, {-5.f, 1, -7},       {0.f, 1, -7},
                   {NAN, 1, -7},      {1e30f, 1, -7},   {12000.f, 5000, -7}, {12000.f, 60, -7}};
    for (const auto& r : refused) {
      EXPECT_EQ(QUORLAX_SetCustomBaseFreq(r.base, r.separation, h), r.result) << r.base << " " << r.separation;
      EXPECT_EQ(QUORLAX_GetDecodingBeginFreq(h), begin);
    }
    EXPECT_EQ(Drain(h).size(), 92160u);
    EXPECT_EQ(Globals::freqBaseForCustomMultiTone, 12000.f);
    EXPECT_EQ(Globals::zunsSeparationForCustomMultiTone, 1);
  }
}

TEST(ApiSettings, SynthModeChangesNothing) {
  Handle h(2, 44100.f);
  const std::vector<float> before = Encode(h, "hello1234");
  EXPECT_EQ(QUORLAX_SetSynthMode(3, h), 0);
  EXPECT_EQ(Globals::synthMode, 3);
  EXPECT_EQ(Encode(h, "hello1234"), before);
  QUORLAX_SetSynthMode(0, h);
  EXPECT_EQ(QUORLAX_SetSynthVolume(NAN, h), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(Globals::synthVolume, 0.0f);
}

TEST(ApiNullHandles, AnswerWithCodes) {
  float buf[1024];
  char text[30];
  for (void* h : {static_cast<void*>(nullptr), QUORLAX_Create()}) {
    const int expected = QUORLAX_ERROR_NOT_CONFIGURED;
    EXPECT_EQ(QUORLAX_SetAudioSignature(10, buf, h), expected);
    EXPECT_EQ(QUORLAX_EncodeDataToAudioBuffer("hello1234", 9, 0, nullptr, 0, h), expected);
    EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(buf, h), expected);
    EXPECT_EQ(QUORLAX_ResetEncodedAudioBuffer(h), expected);
    EXPECT_EQ(QUORLAX_DecodeAudioBuffer(buf, 10, h), expected);
    EXPECT_EQ(QUORLAX_GetDecodedData(text, h), expected);
    EXPECT_EQ(QUORLAX_GetSpectrum(buf, h), expected);
    EXPECT_EQ(QUORLAX_GetConfidence(h), 0.0f);
    EXPECT_EQ(QUORLAX_GetConfidenceError(h), 0.0f);
    EXPECT_EQ(QUORLAX_GetConfidenceNoise(h), 0.0f);
    EXPECT_EQ(QUORLAX_GetReceivedZunsVolume(h), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(QUORLAX_GetDecodingBeginFreq(h), 0.0f);
    EXPECT_EQ(QUORLAX_GetDecodingEndFreq(h), 0.0f);
    EXPECT_EQ(QUORLAX_GetDecodedMode(h), h ? -1 : expected);
    if (!h) {
      EXPECT_EQ(QUORLAX_Configure(2, 44100.f, 1024, h), expected);
      EXPECT_EQ(QUORLAX_SetCustomBaseFreq(12000.f, 1, h), expected);
      EXPECT_EQ(QUORLAX_SetSynthMode(0, h), expected);
      EXPECT_EQ(QUORLAX_SetSynthVolume(0.f, h), expected);
    }
    QUORLAX_Destroy(h);
  }
  Handle h(2, 44100.f);
  EXPECT_EQ(QUORLAX_GetEncodedAudioBuffer(nullptr, h), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetSpectrum(nullptr, h), QUORLAX_ERROR_INVALID_ARGUMENT);
}

}  // namespace
