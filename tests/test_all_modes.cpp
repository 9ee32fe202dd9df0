// Mode 5: one spectrum per hop, three bands searched, the heard band reported.
#include <gtest/gtest.h>

#include "DecoderAllMultiToneMode.h"
#include "test_support.h"

using namespace qtest;

namespace {

TEST(AllModes, EachBandDecodesAndIsReported) {
  const struct {
    int sender;
    int band;
  } cases[] = {{2, 0}, {3, 1}, {4, 2}, {5, 1}};
  for (float rate : {44100.f, 48000.f}) {
    for (const auto& k : cases) {
      Handle h(5, rate);
      EXPECT_EQ(QUORLAX_GetDecodedMode(h), -1);
      const Events ev = Feed(h, Framed(Transmission(k.sender, rate, "allmode12"), rate), 1024);
      ASSERT_EQ(ev.messages.size(), 1u) << "sender " << k.sender << " @ " << rate;
      EXPECT_EQ(ev.messages[0].text, "allmode12");
      EXPECT_EQ(ev.messages[0].result, 9);
      EXPECT_EQ(ev.messages[0].confidenceError, 1.0f);
      EXPECT_EQ(ev.messages[0].mode, k.band);
      EXPECT_EQ(QUORLAX_GetDecodedMode(h), k.band);  // kept after the message
    }
    Handle h(5, rate);
    const Events ev = Feed(h, Framed(Transmission(6, rate, "custom123"), rate), 1024);
    EXPECT_TRUE(ev.codes.empty()) << "a custom-band transmission is not heard";
    EXPECT_EQ(QUORLAX_GetDecodedMode(h), -1);
  }
}

TEST(AllModes, OneOfEachBandInTurnThroughNoise) {
  for (float rate : {44100.f, 48000.f}) {
    const struct {
      int mode;
      const char* text;
    } sent[] = {{2, "first0000"}, {3, "second111"}, {4, "third2222"}};
    std::vector<float> stream = Silence(LeadIn(rate));
    uint32_t seed = 11;
    for (const auto& s : sent) {
      Append(stream, Noise(static_cast<size_t>(rate * 0.7f), 1e-3f, seed++));
      Append(stream, Transmission(s.mode, rate, s.text));
    }
    Append(stream, Noise(8192, 1e-3f, seed));
    Handle h(5, rate);
    const Events ev = Feed(h, stream, 512);
    ASSERT_EQ(ev.messages.size(), 3u) << rate;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(ev.messages[i].text, sent[i].text);
      EXPECT_EQ(ev.messages[i].result, 9);
      EXPECT_EQ(ev.messages[i].mode, sent[i].mode - 2);
    }
  }
}

TEST(AllModes, LowerBandWinsTheSameHop) {
  // Audible and compression transmissions sounding together: both front doors
  // pass on the same hop, and the audible band is read.
  const std::vector<float> a = Transmission(2, 44100.f, "audible12");
  const std::vector<float> c = Transmission(4, 44100.f, "compress1");
  std::vector<float> mix(a.size());
  for (size_t i = 0; i < a.size(); ++i) mix[i] = 0.5f * (a[i] + c[i]);
  Handle h(5, 44100.f);
  const Events ev = Feed(h, Framed(mix, 44100.f), 1024);
  ASSERT_GE(ev.messages.size(), 1u);
  EXPECT_EQ(ev.messages[0].text, "audible12");
  EXPECT_EQ(ev.messages[0].mode, 0);
}

TEST(AllModes, WritePositionRuleAndIdleBands) {
  QUORLAX::DecoderAllMultiTone d(44100.f, 1024, 2048);
  ASSERT_EQ(d.mBands.size(), 3u);
  std::vector<float> noise = Noise(2048, 1e-2f, 5);
  ASSERT_EQ(d.DecodeAudioBuffer(noise.data(), 2048), -1);  // exactly one hop analysed
  EXPECT_NE(d.Doors(0).Strongest(0), -1);
  EXPECT_EQ(d.Doors(1).Strongest(0), -1);
  EXPECT_EQ(d.Doors(2).Strongest(0), -1);
  EXPECT_NE(d.Doors(1).Strongest(1), -1);
  EXPECT_NE(d.Doors(2).Strongest(1), -1);
  EXPECT_EQ(d.Doors(0).Strongest(1), -1);

  // While band 1 is read, the other bands' read positions stay put.
  const std::vector<float> stream = Framed(Transmission(3, 44100.f, "idlebands"), 44100.f);
  QUORLAX::DecoderAllMultiTone r(44100.f, 1024, 2048);
  std::vector<int> frozen;
  int tokens = 0;
  for (size_t pos = 0; pos < stream.size(); pos += 256) {
    std::vector<float> chunk(stream.begin() + pos, stream.begin() + std::min(stream.size(), pos + 256));
    for (int code = r.DecodeAudioBuffer(chunk.data(), static_cast<int>(chunk.size())); code != -1;
         code = r.DecodeAudioBuffer(nullptr, 0)) {
      if (code == -2) frozen = {r.mReadPosInBlockCircularBufferArray[0], r.mReadPosInBlockCircularBufferArray[2]};
      if (code >= 0) {
        ++tokens;
        EXPECT_EQ(frozen, (std::vector<int>{r.mReadPosInBlockCircularBufferArray[0], r.mReadPosInBlockCircularBufferArray[2]}));
      }
    }
  }
  EXPECT_EQ(tokens, 18);
  EXPECT_EQ(r.GetDecodedMode(), 1);
}

}  // namespace
