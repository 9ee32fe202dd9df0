// Digital silence (runs of exact zeros, as 16-bit files, muted inputs and
// edited clips carry) before, between and after transmissions: every
// transmission is heard and nothing else is reported.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "test_support.h"

using namespace qtest;

namespace {

struct Gaps {
  double before, between, after;  // seconds of exact zeros
};

// What a 16-bit file written by libsndfile gives back: samples floored onto
// the 1/32768 grid (the rounding matters: it decides which frames look alike).
std::vector<float> As16Bit(std::vector<float> x) {
  for (float& v : x) v = std::floor(std::max(-1.0f, std::min(32767.0f / 32768.0f, v)) * 32768.0f) / 32768.0f;
  return x;
}

size_t Samples(double seconds, float rate) { return static_cast<size_t>(seconds * rate); }

struct SilenceCase {
  int mode;           // decoder mode
  int senders[2];     // modes of the two transmissions
  float rate;
};

std::string Name(const SilenceCase& c) {
  return "mode" + std::to_string(c.mode) + "_" + std::to_string(static_cast<int>(c.rate)) + "_from" +
         std::to_string(c.senders[0]) + std::to_string(c.senders[1]);
}

class DigitalSilence : public ::testing::TestWithParam<SilenceCase> {};

TEST_P(DigitalSilence, EveryTransmissionHeardNothingElse) {
  const SilenceCase c = GetParam();
  const Gaps gaps[] = {{0.05, 0.05, 0.05}, {0.3, 1.0, 3.0}, {3.0, 0.1, 0.5}, {1.0, 3.0, 0.06}};
  const std::string texts[2] = {"hello1234", "0vjq7ab2k"};
  for (const Gaps& g : gaps) {
    for (bool sixteenBit : {false, true}) {
      std::vector<float> stream = Silence(LeadIn(c.rate) + Samples(g.before, c.rate));
      Append(stream, Transmission(c.senders[0], c.rate, texts[0]));
      Append(stream, Silence(Samples(g.between, c.rate)));
      Append(stream, Transmission(c.senders[1], c.rate, texts[1]));
      Append(stream, Silence(Samples(g.after, c.rate) + 4096));
      if (sixteenBit) stream = As16Bit(stream);
      Handle h(c.mode, c.rate);
      ASSERT_EQ(h.configured, 0);
      const Events ev = Feed(h, stream, 1024);
      const std::string where = "gaps " + std::to_string(g.before) + "/" + std::to_string(g.between) + "/" +
                                std::to_string(g.after) + (sixteenBit ? " 16-bit" : " float");
      ASSERT_EQ(ev.messages.size(), 2u) << where;
      for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ev.messages[i].text, texts[i]) << where;
        EXPECT_EQ(ev.messages[i].result, 9) << where;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bands, DigitalSilence,
    ::testing::Values(SilenceCase{2, {2, 2}, 44100.0f}, SilenceCase{2, {2, 2}, 48000.0f},
                      SilenceCase{3, {3, 3}, 44100.0f}, SilenceCase{3, {3, 3}, 48000.0f},
                      SilenceCase{4, {4, 4}, 44100.0f}, SilenceCase{4, {4, 4}, 48000.0f},
                      SilenceCase{6, {6, 6}, 44100.0f}, SilenceCase{6, {6, 6}, 48000.0f},
                      SilenceCase{5, {2, 3}, 44100.0f}, SilenceCase{5, {4, 2}, 48000.0f},
                      SilenceCase{5, {3, 4}, 48000.0f}),
    [](const ::testing::TestParamInfo<SilenceCase>& i) { return Name(i.param); });

// Frames that are wholly or partly zero, or denormal, never open a door nor
// put a NaN into the figures of a later message.
TEST(DigitalSilence, ZeroAndDenormalFramesLeaveNoTrace) {
  for (float rate : {44100.0f, 48000.0f}) {
    for (int mode : {2, 5}) {
      std::vector<float> stream = Silence(Samples(2.0, rate));
      for (size_t i = 0; i < stream.size(); i += 7) stream[i] = 1e-41f;  // denormal dust
      std::vector<float> partly = Noise(Samples(1.0, rate), 1e-6f, 11);
      for (size_t i = 0; i < partly.size(); ++i)
        if ((i / 300) % 2 == 0) partly[i] = 0.0f;
      Append(stream, partly);
      Append(stream, Silence(Samples(0.5, rate)));
      Append(stream, Transmission(mode == 5 ? 3 : 2, rate, "hello1234"));
      Append(stream, Silence(4096));
      Handle h(mode, rate);
      const Events ev = Feed(h, stream, 4096);
      ASSERT_EQ(ev.messages.size(), 1u) << rate << " mode " << mode;
      EXPECT_EQ(ev.messages[0].result, 9);
      EXPECT_FALSE(std::isnan(QUORLAX_GetConfidence(h)));
      EXPECT_FALSE(std::isnan(QUORLAX_GetConfidenceNoise(h)));
      EXPECT_TRUE(std::isfinite(QUORLAX_GetReceivedZunsVolume(h)));
    }
  }
}

}  // namespace
