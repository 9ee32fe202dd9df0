// The listener: every band at once, every front door tried, one report per
// transmission, sample positions and levels users can read, any push size,
// and hostile calls answered with codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Globals.h"
#include "ZunCoreLib_api.h"
#include "core/MultiToneBand.h"
#include "audio_sources.h"
#include "test_support.h"

using namespace qtest;

namespace {

struct Sent {
  std::string text;
  int band;      // QUORLAX_MODE_*
  size_t start;  // first sample in the stream
};

// Owns a listener; collects every message it gives.
struct Listening {
  QUORLAX_Listener* l = nullptr;
  int error = -100;
  Listening(int mode, float rate) { l = QUORLAX_ListenerCreate(mode, rate, &error); }
  ~Listening() { QUORLAX_ListenerDestroy(l); }
  std::vector<QUORLAX_Message> Take() {
    std::vector<QUORLAX_Message> out;
    QUORLAX_Message m;
    while (QUORLAX_ListenerNext(l, &m) == 1) out.push_back(m);
    return out;
  }
  // Pushes `audio` in pieces of `sizes` (cycled), flushes, returns everything heard.
  std::vector<QUORLAX_Message> Hear(const std::vector<float>& audio, const std::vector<int>& sizes) {
    std::vector<QUORLAX_Message> all;
    size_t k = 0;
    for (size_t pos = 0; pos < audio.size(); ++k) {
      const int n = static_cast<int>(std::min<size_t>(sizes[k % sizes.size()], audio.size() - pos));
      EXPECT_EQ(QUORLAX_ListenerPush(l, audio.data() + pos, n), 0);
      pos += n;
      for (const QUORLAX_Message& m : Take()) all.push_back(m);
    }
    EXPECT_EQ(QUORLAX_ListenerFlush(l), 0);
    for (const QUORLAX_Message& m : Take()) all.push_back(m);
    return all;
  }
};

int TokenSamples(float rate) { return static_cast<int>(0.10448979586362839f * rate); }

// Every sent transmission heard once, in order, with its band and times;
// nothing else.
void ExpectHeard(const std::vector<QUORLAX_Message>& got, const std::vector<Sent>& sent, float rate,
                 const std::string& where) {
  ASSERT_EQ(got.size(), sent.size()) << where;
  const long long token = TokenSamples(rate);
  for (size_t i = 0; i < sent.size(); ++i) {
    const QUORLAX_Message& m = got[i];
    EXPECT_EQ(m.text, sent[i].text) << where << " #" << i;
    EXPECT_EQ(m.ok, 1) << where << " #" << i;
    EXPECT_EQ(m.band, sent[i].band) << where << " #" << i;
    // Measured from the tokens' edges: within a millisecond.
    EXPECT_LE(std::llabs(m.start - static_cast<long long>(sent[i].start)), rate / 1000) << where << " #" << i;
    EXPECT_LE(std::llabs(m.end - m.start - 20 * token), rate / 1000) << where << " #" << i;
    EXPECT_GT(m.confidence, 0.5f) << where << " #" << i;
  }
}

struct RoundTrip {
  int mode;
  float rate;
  int senders[3];  // bands of the three transmissions
};

class ListenerRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

// Three transmissions: one at the very first sample, one after a gap of noise,
// and one that ends with the stream; pushed in pieces of 1 to 100000 samples.
TEST_P(ListenerRoundTrip, EveryTransmissionOnceWithItsTimes) {
  const RoundTrip c = GetParam();
  const std::string texts[3] = {"hello1234", "0vjq7ab2k", "stream999"};
  const std::vector<std::vector<int>> pushes = {{1}, {100000}, {1024}, {7, 4096, 333, 1, 60000}};
  std::mt19937 rng(static_cast<uint32_t>(c.mode * 7 + c.rate));
  for (const std::vector<int>& sizes : pushes) {
    std::vector<float> audio;
    std::vector<Sent> sent;
    for (int i = 0; i < 3; ++i) {
      if (i == 1) Append(audio, Noise(static_cast<size_t>(c.rate * (0.3 + 0.01 * (rng() % 100))), 1e-4f, rng()));
      if (i == 2) Append(audio, Silence(static_cast<size_t>(c.rate * 0.05 * (rng() % 10))));
      sent.push_back({texts[i], c.senders[i], audio.size()});
      Append(audio, Transmission(c.senders[i], c.rate, texts[i]));
    }
    Listening l(c.mode, c.rate);
    ASSERT_EQ(l.error, 0);
    ExpectHeard(l.Hear(audio, sizes), sent, c.rate, "pushes of " + std::to_string(sizes[0]));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ListenerRoundTrip,
    ::testing::Values(RoundTrip{2, 44100.0f, {2, 2, 2}}, RoundTrip{2, 48000.0f, {2, 2, 2}},
                      RoundTrip{2, 22050.0f, {2, 2, 2}}, RoundTrip{3, 44100.0f, {3, 3, 3}},
                      RoundTrip{3, 48000.0f, {3, 3, 3}}, RoundTrip{4, 44100.0f, {4, 4, 4}},
                      RoundTrip{4, 48000.0f, {4, 4, 4}}, RoundTrip{5, 44100.0f, {2, 3, 4}},
                      RoundTrip{5, 48000.0f, {4, 3, 2}}, RoundTrip{6, 44100.0f, {6, 6, 6}},
                      RoundTrip{6, 48000.0f, {6, 6, 6}}),
    [](const ::testing::TestParamInfo<RoundTrip>& i) {
      return "mode" + std::to_string(i.param.mode) + "_" + std::to_string(static_cast<int>(i.param.rate));
    });

// A front door that leads nowhere (a transmission cut off after its third
// token) does not deafen the listener to one that starts while it is read.
TEST(Listener, FalseDoorDoesNotDeafen) {
  for (float rate : {44100.0f, 48000.0f}) {
    for (double gap : {0.0, 0.2, 0.7, 1.5}) {
      const std::vector<float> full = Transmission(2, rate, "fake00000");
      std::vector<float> audio(full.begin(), full.begin() + 3 * TokenSamples(rate));
      Append(audio, Silence(static_cast<size_t>(gap * rate)));
      const std::vector<Sent> sent = {{"realone42", 2, audio.size()}};
      Append(audio, Transmission(2, rate, "realone42"));
      Append(audio, Noise(static_cast<size_t>(rate), 1e-5f, 3));
      Listening l(2, rate);
      ExpectHeard(l.Hear(audio, {4096}), sent, rate, "gap " + std::to_string(gap));
    }
  }
}

// Two senders in different bands, overlapping by 0.5 to 2 s, both heard.
TEST(Listener, OverlappingBandsAreHeardIndependently) {
  const int pairs[][2] = {{2, 3}, {2, 4}, {3, 4}};
  for (float rate : {44100.0f, 48000.0f}) {
    for (const auto& p : pairs) {
      for (double overlap : {0.5, 1.2, 2.0}) {
        const std::vector<float> a = Transmission(p[0], rate, "firstband"), b = Transmission(p[1], rate, "secondone");
        const size_t startA = static_cast<size_t>(0.2 * rate);
        const size_t startB = startA + a.size() - static_cast<size_t>(overlap * rate);
        std::vector<float> audio(startB + b.size() + 2000, 0.0f);
        for (size_t i = 0; i < a.size(); ++i) audio[startA + i] += 0.5f * a[i];
        for (size_t i = 0; i < b.size(); ++i) audio[startB + i] += 0.5f * b[i];
        AddNoise(audio, 0.25f * Power(a), 12.0f, 9);
        Listening l(QUORLAX_MODE_ALL, rate);
        ExpectHeard(l.Hear(audio, {2048}), {{"firstband", p[0], startA}, {"secondone", p[1], startB}}, rate,
                    "bands " + std::to_string(p[0]) + "+" + std::to_string(p[1]) + " overlap " +
                        std::to_string(overlap));
      }
    }
  }
}

// A talker throughout, at the transmission's level: every transmission heard
// (the streaming decoder loses a fifth of them to speech's false doors).
TEST(Listener, TalkerThroughout) {
  for (float rate : {44100.0f, 48000.0f}) {
    std::vector<float> clip = Speech::Synthesize(rate, "en-us+f3");
    if (clip.size() < 1000) GTEST_SKIP() << "espeak-ng is not installed";
    Speech talker(clip);
    std::mt19937 rng(21);
    int heard = 0, trials = 0;
    for (int band : {2, 3, 4}) {
      for (int t = 0; t < 6; ++t, ++trials) {
        const std::vector<float> tx = Transmission(band, rate, "talker123");
        std::vector<float> audio(static_cast<size_t>(6 * rate));
        talker.Fill(audio.data(), audio.size());
        const float gain = std::sqrt(Power(tx) / Power(audio));
        for (float& v : audio) v *= gain;
        const size_t at = static_cast<size_t>(rate * (0.3 + 0.03 * (rng() % 100)));
        for (size_t i = 0; i < tx.size(); ++i) audio[at + i] += tx[i];
        Listening l(QUORLAX_MODE_ALL, rate);
        for (const QUORLAX_Message& m : l.Hear(audio, {4096})) {
          EXPECT_TRUE(m.ok == 0 || std::string(m.text) == "talker123") << m.text;
          heard += m.ok && std::string(m.text) == "talker123" && m.band == band;
        }
      }
    }
    EXPECT_EQ(heard, trials) << rate;
  }
}

// A door that holds for longer than a token is still one transmission,
// reported once whatever the lead-in: before the transmission and under its
// first token, the first door tone with the second one weaker beside it (as
// a talker's voice can make them). Under the first token the false tones
// add to the real ones as their phases fall: in one case of the 84 the door
// stands too little above them at every alignment the search looks at.
TEST(Listener, LongDoorIsReportedOnce) {
  int heard = 0, cases = 0;
  int tones[2];
  QUORLAX::MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[0]), tones);
  const int tone1 = tones[0];
  QUORLAX::MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[1]), tones);
  const int tone2 = tones[0];
  for (float rate : {44100.0f, 48000.0f}) {
    for (int band : {2, 4}) {
      QUORLAX_BandInfoEx info{};
      info.size = sizeof info;
      ASSERT_EQ(QUORLAX_GetBandInfoEx(band, rate, 0.0f, 0, &info), 0);
      const std::vector<float> tx = Transmission(band, rate, "longdoor1");
      const float amplitude = std::sqrt(Power(tx));
      const int token = TokenSamples(rate);
      for (int sixteenths = 12; sixteenths <= 32; ++sixteenths) {
        const size_t lead = static_cast<size_t>(token) * sixteenths / 16, at = static_cast<size_t>(0.2 * rate) + lead;
        std::vector<float> audio(at, 0.0f);
        Append(audio, tx);
        Append(audio, Silence(static_cast<size_t>(0.2 * rate)));
        for (size_t i = at - lead; i < at + token; ++i) {
          const double t = static_cast<double>(i) / rate;
          audio[i] += amplitude * static_cast<float>(std::sin(2 * M_PI * info.tone_hz[tone1] * t) +
                                                     0.6 * std::sin(2 * M_PI * info.tone_hz[tone2] * t));
        }
        Listening l(QUORLAX_MODE_ALL, rate);
        const std::vector<QUORLAX_Message> got = l.Hear(audio, {4096});
        const std::string where =
            std::to_string(rate) + " band " + std::to_string(band) + " lead " + std::to_string(sixteenths) + "/16";
        EXPECT_LE(got.size(), 1u) << where;
        for (const QUORLAX_Message& m : got) EXPECT_EQ(std::string(m.text), "longdoor1") << where;
        heard += got.empty() ? 0 : 1;
        ++cases;
      }
    }
  }
  EXPECT_GE(heard, cases - 1);
}

// Readings that fail their check come out only when asked, and never where a
// passing message covers their time.
TEST(Listener, FailedReadingsOnlyWhenAskedAndUncovered) {
  const float rate = 44100.0f;
  const int spt = 4608;
  const std::vector<float> cut = Transmission(2, rate, "hello1234");
  // A transmission cut off after twelve tokens, then, after a gap, one that
  // is whole; with the short gap the cut one's reading overlaps it.
  for (size_t gap : {60000u, 8000u}) {
    std::vector<float> audio = Noise(4000, 1e-6f, 2);
    audio.insert(audio.end(), cut.begin(), cut.begin() + 12 * spt);
    Append(audio, Noise(gap, 1e-6f, 3));
    const size_t good = audio.size();
    Append(audio, Transmission(2, rate, "goodone77"));
    Append(audio, Noise(4000, 1e-6f, 4));
    for (int on : {0, 1}) {
      Listening l(2, rate);
      EXPECT_EQ(QUORLAX_ListenerReportFailed(l.l, on), 0);
      std::vector<QUORLAX_Message> passed, failed;
      for (const QUORLAX_Message& m : l.Hear(audio, {1000})) (m.ok ? passed : failed).push_back(m);
      ASSERT_EQ(passed.size(), 1u) << gap;
      EXPECT_STREQ(passed[0].text, "goodone77");
      EXPECT_LE(std::llabs(passed[0].start - static_cast<long long>(good)), 256);
      const bool covered = good < 4000 + 20u * spt;
      ASSERT_EQ(failed.size(), on && !covered ? 1u : 0u) << gap;
      if (!failed.empty()) {
        EXPECT_LE(std::llabs(failed[0].start - 4000), 256);
      }
    }
  }
}

// Levels in dB re full scale: each tone of a clean transmission is a sine of
// amplitude 0.325 (-9.8 dBFS); gain moves the level by as much, and the rate
// does not.
TEST(Listener, LevelsAreCalibrated) {
  float at0dB[2] = {};
  int k = 0;
  for (float rate : {44100.0f, 48000.0f}) {
    const std::vector<float> tx = Transmission(2, rate, "level0000");
    float previous = 0.0f;
    for (float gainDb : {0.0f, -20.0f, -40.0f}) {
      std::vector<float> audio = Noise(static_cast<size_t>(rate * 0.4), 1e-12f, 1);
      for (float v : tx) audio.push_back(v * std::pow(10.0f, gainDb / 20.0f));
      Append(audio, Silence(3000));
      Listening l(2, rate);
      const std::vector<QUORLAX_Message> got = l.Hear(audio, {4096});
      ASSERT_EQ(got.size(), 1u) << rate << " " << gainDb;
      if (gainDb == 0.0f) {
        EXPECT_NEAR(got[0].level_db, -9.8f, 2.0f) << rate;
        at0dB[k++] = got[0].level_db;
      } else {
        EXPECT_NEAR(previous - got[0].level_db, 20.0f, 0.5f) << rate << " " << gainDb;
      }
      previous = got[0].level_db;
    }
  }
  EXPECT_NEAR(at0dB[0], at0dB[1], 1.0f);
}

// Samples far louder than full scale (a caller's unscaled integers, a broken
// gain) still give a true, finite level: nothing clips it at 100 dB.
TEST(Listener, LevelsFarAboveFullScale) {
  const float rate = 44100.0f;
  const std::vector<float> tx = Transmission(2, rate, "loud00000");
  for (float gainDb : {110.0f, 250.0f}) {
    std::vector<float> audio = Silence(4000);
    for (float v : tx) audio.push_back(v * std::pow(10.0f, gainDb / 20.0f));
    Append(audio, Silence(3000));
    Listening l(2, rate);
    const std::vector<QUORLAX_Message> got = l.Hear(audio, {4096});
    ASSERT_EQ(got.size(), 1u) << gainDb;
    EXPECT_TRUE(std::isfinite(got[0].level_db)) << gainDb;
    // Samples past 1e6 count as 1e6: a level 250 dB up reads as clipped there.
    EXPECT_NEAR(got[0].level_db, std::min(gainDb - 9.8f, 118.0f), 2.0f) << gainDb;
  }
}

// Seeded white noise near the 90 % point: a detector that loses a decibel
// falls from about 38 of 40 to about 24 of 40 here.
TEST(Listener, SensitivityInWhiteNoise) {
  const struct {
    int mode;
    float rate, snr;
    int trials, atLeast;
  } cases[] = {{2, 44100.0f, -19.0f, 40, 35}, {2, 48000.0f, -19.0f, 30, 23}, {4, 44100.0f, -19.0f, 30, 25}};
  for (const auto& c : cases) {
    const std::vector<float> tx = Transmission(c.mode, c.rate, "hello1234");
    int heard = 0;
    for (int t = 0; t < c.trials; ++t) {
      std::mt19937 rng(1000 + t);
      std::vector<float> audio(rng() % 20000 + 5000, 0.0f);
      Append(audio, tx);
      Append(audio, Silence(10000));
      AddNoise(audio, Power(tx), c.snr, 77 + t);
      Listening l(c.mode, c.rate);
      for (const QUORLAX_Message& m : l.Hear(audio, {100000})) heard += m.ok && std::string(m.text) == "hello1234";
    }
    EXPECT_GE(heard, c.atLeast) << "mode " << c.mode << " at " << c.rate << " Hz, " << c.snr << " dB (seeds 1000+)";
  }
}

// A flush ends one stream; the next push starts another whose positions keep
// counting from the samples pushed before.
TEST(Listener, FlushStartsANewStream) {
  const float rate = 48000.0f;
  const std::vector<float> tx = Transmission(3, rate, "firstpart");
  Listening l(3, rate);
  std::vector<float> a = Silence(5000);
  Append(a, tx);
  ExpectHeard(l.Hear(a, {512}), {{"firstpart", 3, 5000}}, rate, "first stream");
  std::vector<float> b = Silence(7000);
  Append(b, Transmission(3, rate, "secondone"));
  ExpectHeard(l.Hear(b, {512}), {{"secondone", 3, a.size() + 7000}}, rate, "second stream");
}

// A front door is reported as it opens, long before its message completes,
// once per transmission.
TEST(Listener, DoorsAsTheyOpen) {
  for (float rate : {44100.0f, 48000.0f}) {
    const std::vector<float> tx = Transmission(4, rate, "doorbell4");
    std::vector<float> audio = Noise(9000, 1e-6f, 8);
    Append(audio, tx);
    Append(audio, Noise(9000, 1e-6f, 9));
    const size_t firstPart = 9000 + 5 * static_cast<size_t>(TokenSamples(rate));
    Listening l(QUORLAX_MODE_ALL, rate);
    ASSERT_EQ(QUORLAX_ListenerPush(l.l, audio.data(), static_cast<int>(firstPart)), 0);
    QUORLAX_Door door;
    ASSERT_EQ(QUORLAX_ListenerNextDoor(l.l, &door), 1) << rate;
    EXPECT_EQ(door.band, QUORLAX_MODE_COMPRESSION);
    // The first door of a transmission opens a few hops before the reader that
    // aligns best with it: its start is an estimate to a quarter of a token.
    EXPECT_LE(std::llabs(door.start - 9000), TokenSamples(rate) / 4);
    EXPECT_EQ(QUORLAX_ListenerNextDoor(l.l, &door), 0);
    EXPECT_TRUE(l.Take().empty());
    ASSERT_EQ(QUORLAX_ListenerPush(l.l, audio.data() + firstPart, static_cast<int>(audio.size() - firstPart)), 0);
    ASSERT_EQ(QUORLAX_ListenerFlush(l.l), 0);
    EXPECT_EQ(l.Take().size(), 1u);
    EXPECT_EQ(QUORLAX_ListenerNextDoor(l.l, &door), 0) << "one door per transmission";
  }
  EXPECT_EQ(QUORLAX_ListenerNextDoor(nullptr, nullptr), -5);
  Listening l(2, 44100.0f);
  EXPECT_EQ(QUORLAX_ListenerNextDoor(l.l, nullptr), -4);
}

TEST(Listener, HostileCallsAnswerWithCodes) {
  int error = 0;
  const struct {
    int mode;
    float rate;
    int error;
  } refused[] = {{1, 44100.0f, -1},
                 {7, 44100.0f, -1},
                 {2, 0.0f, -7},
                 {2, -44100.0f, -7},
                 {2, std::numeric_limits<float>::quiet_NaN(), -7},
                 {2, std::numeric_limits<float>::infinity(), -7},
                 {3, 22050.0f, -7},
                 {5, 22050.0f, -7},
                 {2, 16000.0f, -7}};
  for (const auto& r : refused) {
    EXPECT_EQ(QUORLAX_ListenerCreate(r.mode, r.rate, &error), nullptr) << r.mode << " " << r.rate;
    EXPECT_EQ(error, r.error) << r.mode << " " << r.rate;
    EXPECT_EQ(QUORLAX_ListenerCreate(r.mode, r.rate, nullptr), nullptr);
  }
  QUORLAX_Message m;
  float x[4] = {};
  EXPECT_EQ(QUORLAX_ListenerPush(nullptr, x, 4), -5);
  EXPECT_EQ(QUORLAX_ListenerFlush(nullptr), -5);
  EXPECT_EQ(QUORLAX_ListenerNext(nullptr, &m), -5);
  EXPECT_EQ(QUORLAX_ListenerReportFailed(nullptr, 1), -5);
  EXPECT_EQ(QUORLAX_ListenerSetCustom(nullptr, 12000.0f, 1), -5);
  QUORLAX_ListenerDestroy(nullptr);

  Listening l(2, 44100.0f);
  EXPECT_EQ(QUORLAX_ListenerPush(l.l, nullptr, 4), -4);
  EXPECT_EQ(QUORLAX_ListenerPush(l.l, x, -1), -4);
  EXPECT_EQ(QUORLAX_ListenerPush(l.l, nullptr, 0), 0);
  EXPECT_EQ(QUORLAX_ListenerNext(l.l, nullptr), -4);
  EXPECT_EQ(QUORLAX_ListenerSetCustom(l.l, 12000.0f, 1), -1);

  // Garbage audio, then a real transmission: nothing from the garbage, the
  // transmission heard.
  std::vector<float> audio;
  for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e-41f, 1e30f})
    Append(audio, std::vector<float>(20000, v));
  Append(audio, Noise(30000, 1.0f, 4));
  const size_t at = audio.size() + 10000;
  Append(audio, Silence(10000));
  Append(audio, Transmission(2, 44100.0f, "aftergarb"));
  ExpectHeard(l.Hear(audio, {3000}), {{"aftergarb", 2, at}}, 44100.0f, "after garbage");

  // A few samples that are not finite inside a transmission name no tone:
  // the tokens around them are read as sent.
  for (float v : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                  std::numeric_limits<float>::quiet_NaN()}) {
    std::vector<float> spoilt = Silence(3000);
    Append(spoilt, Transmission(2, 44100.0f, "spoilt123"));
    for (size_t i = 5000; i < spoilt.size(); i += 9000) spoilt[i] = v;
    Append(spoilt, Silence(3000));
    Listening fresh(2, 44100.0f);
    ExpectHeard(fresh.Hear(spoilt, {4096}), {{"spoilt123", 2, 3000}}, 44100.0f, "not finite inside");
  }
}

TEST(Listener, CustomGridOfItsOwn) {
  const float rate = 44100.0f;
  Handle sender;
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(10000.0f, 2, sender), 0);
  ASSERT_EQ(QUORLAX_Configure(6, rate, 1024, sender), 0);
  std::vector<float> audio = Silence(3000);
  Append(audio, Encode(sender, "custom777"));
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(12000.0f, 1, sender), 0);  // back to the default grid

  Listening l(6, rate);
  EXPECT_EQ(QUORLAX_ListenerSetCustom(l.l, 10000.0f, -1), -4);
  EXPECT_EQ(QUORLAX_ListenerSetCustom(l.l, 30000.0f, 2), -7);
  EXPECT_TRUE(l.Hear(audio, {4096}).empty());  // the default grid hears nothing
  ASSERT_EQ(QUORLAX_ListenerSetCustom(l.l, 10000.0f, 2), 0);
  ExpectHeard(l.Hear(audio, {4096}), {{"custom777", 6, audio.size() + 3000}}, rate, "custom grid");

  // A grid changed in the middle of a hop starts the next stream on whole
  // hops (the frames are read where they lie in the samples' ring).
  Listening mid(6, rate);
  const std::vector<float> odd = Silence(1001);
  ASSERT_EQ(QUORLAX_ListenerPush(mid.l, odd.data(), static_cast<int>(odd.size())), 0);
  ASSERT_EQ(QUORLAX_ListenerSetCustom(mid.l, 10000.0f, 2), 0);
  ExpectHeard(mid.Hear(audio, {333}), {{"custom777", 6, odd.size() + 3000}}, rate, "grid changed mid-hop");
}

}  // namespace
