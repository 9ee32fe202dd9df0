// The interface beyond the handle: queries that answer what works without
// trying it, listeners in the caller's memory, the sender, and the one
// confidence rule of both readers.
#define QUORLAX_NO_CONTRACT_ATTRIBUTES  // null arguments on purpose
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DecoderAudibleMultiToneMode.h"
#include "ZunCoreLib_api.h"
#include "test_support.h"

using namespace qtest;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

QUORLAX_ListenerConfig Config(int mode, float rate, float base = 12000.0f, int separation = 1) {
  QUORLAX_ListenerConfig c;
  QUORLAX_ListenerConfigInit(&c, mode, rate);
  c.custom_base_hz = base;
  c.custom_separation = separation;
  return c;
}

// ---------------------------------------------------------------------------
// Queries.

TEST(Queries, FixedFacts) {
  EXPECT_STREQ(QUORLAX_GetAlphabet(), "0123456789abcdefghijklmnopqrstuv");
  EXPECT_STREQ(QUORLAX_GetVersionNumber(), "1.0.0");
  int modes[8] = {};
  EXPECT_EQ(QUORLAX_GetModes(nullptr, 0), 5);
  ASSERT_EQ(QUORLAX_GetModes(modes, 8), 5);
  EXPECT_EQ(std::vector<int>(modes, modes + 5), (std::vector<int>{2, 3, 4, 5, 6}));
  EXPECT_EQ(QUORLAX_GetModes(modes, 2), 5);  // counts all, writes what fits
  EXPECT_EQ(QUORLAX_GetModes(nullptr, 3), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetModes(modes, -1), QUORLAX_ERROR_INVALID_ARGUMENT);
  float rates[4] = {};
  ASSERT_EQ(QUORLAX_GetSampleRates(rates, 4), 3);
  EXPECT_EQ(std::vector<float>(rates, rates + 3), (std::vector<float>{22050.0f, 44100.0f, 48000.0f}));
  EXPECT_EQ(QUORLAX_GetSampleRates(nullptr, 1), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetDefaultCustomBase(), 12000.0f);
  EXPECT_EQ(QUORLAX_GetDefaultCustomSeparation(), 1);

  const struct {
    const char* name;
    int mode;
  } names[] = {{"audible", 2},  {"NonAudible", 3}, {"compression", 4}, {"ALL", 5}, {"custom", 6},
               {"audibl", -1},  {"audiblex", -1},  {"", -1},            {"2", -1}, {"all ", -1}};
  for (const auto& n : names) EXPECT_EQ(QUORLAX_ModeFromName(n.name), n.mode) << n.name;
  EXPECT_EQ(QUORLAX_ModeFromName(nullptr), -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(QUORLAX_ModeFromName(QUORLAX_GetModeName(modes[i])), modes[i]);
  for (int mode : {-1, 0, 1, 7, 1000}) EXPECT_EQ(QUORLAX_GetModeName(mode), nullptr) << mode;
}

// The custom bases that fit, answered by the library: the ends fit, a bin
// beyond either does not.
TEST(Queries, CustomBaseRange) {
  for (float rate : {22050.0f, 44100.0f, 48000.0f}) {
    for (int separation : {0, 1, 5, rate == 22050.0f ? 6 : 20}) {
      float low = 0.0f, high = 0.0f;
      ASSERT_EQ(QUORLAX_GetCustomBaseRange(rate, separation, &low, &high), 0) << rate << " " << separation;
      const float bin = rate / (rate == 22050.0f ? 1024.0f : 2048.0f);
      EXPECT_LT(low, high);
      EXPECT_EQ(QUORLAX_IsSupported(6, rate, low, separation), 0) << rate << " " << separation;
      EXPECT_EQ(QUORLAX_IsSupported(6, rate, high, separation), 0) << rate << " " << separation;
      EXPECT_EQ(QUORLAX_IsSupported(6, rate, high + bin, separation), QUORLAX_ERROR_UNSUPPORTED);
      EXPECT_EQ(QUORLAX_IsSupported(6, rate, low - bin, separation), QUORLAX_ERROR_UNSUPPORTED);
    }
  }
  float low, high;
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(16000.0f, 1, &low, &high), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(44100.0f, 200, &low, &high), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(22050.0f, 20, &low, &high), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(44100.0f, -1, &low, &high), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(44100.0f, 1, nullptr, &high), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetCustomBaseRange(kNaN, 1, &low, &high), QUORLAX_ERROR_UNSUPPORTED);
}

// What each mode is at each rate, to the sample and the float.
TEST(Queries, ModeInfoGoldenValues) {
  const struct {
    int mode;
    float rate;
    const char* name;
    int sends;
    std::vector<int> hears;
    int token;
    float low, high;
  } golden[] = {
      {2, 22050.0f, "audible", 2, {2}, 2304, 3294.58008f, 9840.67383f},
      {2, 44100.0f, "audible", 2, {2}, 4608, 3294.58008f, 9840.67383f},
      {2, 48000.0f, "audible", 2, {2}, 5015, 3304.6875f, 9821.48438f},
      {3, 44100.0f, "nonaudible", 3, {3}, 4608, 17807.959f, 20047.4121f},
      {3, 48000.0f, "nonaudible", 3, {3}, 5015, 17789.0625f, 20023.8281f},
      {4, 44100.0f, "compression", 4, {4}, 4608, 13996.582f, 15676.1719f},
      {4, 48000.0f, "compression", 4, {4}, 5015, 13992.1875f, 15621.3867f},
      {5, 44100.0f, "all", 3, {2, 3, 4}, 4608, 3294.58008f, 20047.4121f},
      {5, 48000.0f, "all", 3, {2, 3, 4}, 5015, 3304.6875f, 20023.8281f},
      {6, 44100.0f, "custom", 6, {6}, 4608, 11993.9941f, 13673.584f},
      {6, 48000.0f, "custom", 6, {6}, 5015, 12000.0f, 13629.1992f},
  };
  for (const auto& g : golden) {
    QUORLAX_ModeInfo info;
    info.size = sizeof info;
    ASSERT_EQ(QUORLAX_GetModeInfo(g.mode, g.rate, 12000.0f, 1, &info), 0) << g.name << " " << g.rate;
    EXPECT_STREQ(info.name, g.name);
    EXPECT_EQ(info.sends, g.sends);
    EXPECT_EQ(std::vector<int>(info.hears, info.hears + info.num_hears), g.hears) << g.name;
    EXPECT_EQ(info.token_samples, g.token) << g.name << " " << g.rate;
    EXPECT_EQ(info.transmission_samples, 20 * g.token);
    EXPECT_EQ(info.max_encoded_samples, static_cast<int>(g.rate * 10));
    EXPECT_FLOAT_EQ(info.low_hz, g.low) << g.name << " " << g.rate;
    EXPECT_FLOAT_EQ(info.high_hz, g.high) << g.name << " " << g.rate;
  }
  QUORLAX_ModeInfo info;
  info.size = sizeof info - 1;
  EXPECT_EQ(QUORLAX_GetModeInfo(2, 44100.0f, 12000.0f, 1, &info), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetModeInfo(2, 44100.0f, 12000.0f, 1, nullptr), QUORLAX_ERROR_INVALID_ARGUMENT);
  info.size = sizeof info;
  EXPECT_EQ(QUORLAX_GetModeInfo(3, 22050.0f, 12000.0f, 1, &info), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetModeInfo(9, 44100.0f, 12000.0f, 1, &info), QUORLAX_NOT_READY);
}

// The query says what creating would say, for every mode, rate and grid
// tried; nothing is built to find out, and the sizes agree.
TEST(Queries, IsSupportedAgreesWithCreation) {
  const int modes[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 100};
  const float rates[] = {8000.0f,  11025.0f, 11050.0f, 16000.0f, 22050.0f, 24000.0f, 32000.0f, 44100.0f,
                         48000.0f, 88200.0f, 96000.0f, 192000.0f, 0.0f,    -44100.0f, kNaN,     kInf};
  const struct {
    float base;
    int separation;
  } grids[] = {{12000.0f, 1}, {4000.0f, 1}, {9000.0f, 3}, {20000.0f, 1}, {500.0f, 0}, {3000.0f, 40},
               {kNaN, 1},     {-5.0f, 1},   {12000.0f, -1}, {12000.0f, 1001}, {12000.0f, 1 << 30}};
  int supported = 0, refused = 0;
  for (int mode : modes)
    for (float rate : rates)
      for (const auto& g : grids) {
        const int code = QUORLAX_IsSupported(mode, rate, g.base, g.separation);
        const QUORLAX_ListenerConfig c = Config(mode, rate, g.base, g.separation);
        int error = 12345;
        QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&c, &error);
        const std::string where = std::to_string(mode) + " @ " + std::to_string(rate) + " grid " +
                                  std::to_string(g.base) + "/" + std::to_string(g.separation);
        EXPECT_EQ(code, error) << where;
        EXPECT_EQ(l != nullptr, code == 0) << where;
        QUORLAX_ListenerDestroy(l);
        const int64_t size = QUORLAX_ListenerSize(&c);
        EXPECT_EQ(code == 0 ? size > 0 : size == code, true) << where;
        const int64_t senderSize = QUORLAX_SenderSize(mode, rate, g.base, g.separation);
        EXPECT_EQ(code == 0 ? senderSize > 0 : senderSize == code, true) << where;
        QUORLAX_ModeInfo info;
        info.size = sizeof info;
        EXPECT_EQ(QUORLAX_GetModeInfo(mode, rate, g.base, g.separation, &info), code) << where;
        (code == 0 ? supported : refused)++;
        // Handles agree for the fixed bands (custom handles take their grid another way).
        if (mode != QUORLAX_MODE_CUSTOM && std::isfinite(rate) && rate > 0.0f && g.separation == 1 &&
            g.base == 12000.0f) {
          Handle h(mode, rate);
          EXPECT_EQ(h.configured == 0, code == 0) << where;
        }
      }
  EXPECT_GT(supported, 20);
  EXPECT_GT(refused, 1000);
}

TEST(Queries, BandInfoExTakesTheGridAsArguments) {
  QUORLAX_BandInfoEx ex;
  ex.size = sizeof ex;
  ASSERT_EQ(QUORLAX_GetBandInfoEx(QUORLAX_MODE_CUSTOM, 44100.0f, 9000.0f, 2, &ex), 0);
  // The same grid through a handle's process-wide setting and the old query.
  Handle h;
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(9000.0f, 2, h), 0);
  QUORLAX_BandInfo old;
  ASSERT_EQ(QUORLAX_GetBandInfo(QUORLAX_MODE_CUSTOM, 44100.0f, &old), 0);
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(12000.0f, 1, h), 0);
  EXPECT_EQ(std::memcmp(ex.tone_hz, old.tone_hz, sizeof old.tone_hz), 0);
  EXPECT_EQ(ex.shift_hz, old.shift_hz);
  EXPECT_EQ(ex.high_hz, old.high_hz);
  EXPECT_STREQ(ex.name, "custom");
  // Fixed bands ignore the grid.
  QUORLAX_BandInfoEx a, b;
  a.size = b.size = sizeof a;
  ASSERT_EQ(QUORLAX_GetBandInfoEx(2, 48000.0f, 12000.0f, 1, &a), 0);
  ASSERT_EQ(QUORLAX_GetBandInfoEx(2, 48000.0f, kNaN, -3, &b), 0);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(QUORLAX_GetBandInfoEx(6, 44100.0f, 9000.0f, -1, &ex), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_GetBandInfoEx(6, 44100.0f, 9000.0f, 1 << 30, &ex), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetBandInfoEx(6, 44100.0f, 30000.0f, 1, &ex), QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_GetBandInfoEx(5, 44100.0f, 12000.0f, 1, &ex), QUORLAX_NOT_READY);
  ex.size = 4;
  EXPECT_EQ(QUORLAX_GetBandInfoEx(2, 44100.0f, 12000.0f, 1, &ex), QUORLAX_ERROR_INVALID_ARGUMENT);
}

// ---------------------------------------------------------------------------
// Listeners in the caller's memory.

struct Heard {
  std::vector<QUORLAX_MessageEx> messages;
};

std::vector<QUORLAX_MessageEx> HearAll(QUORLAX_Listener* l, const std::vector<float>& audio, size_t chunk) {
  std::vector<QUORLAX_MessageEx> out;
  auto take = [&] {
    QUORLAX_MessageEx m;
    m.size = sizeof m;
    while (QUORLAX_ListenerNextEx(l, &m) == 1) out.push_back(m);
  };
  for (size_t pos = 0; pos < audio.size(); pos += chunk) {
    EXPECT_EQ(QUORLAX_ListenerPush(l, audio.data() + pos, static_cast<int>(std::min(chunk, audio.size() - pos))), 0);
    take();
  }
  EXPECT_EQ(QUORLAX_ListenerFlush(l), 0);
  take();
  return out;
}

// A stream with transmissions in every band the mode hears, in noise.
std::vector<float> BusyStream(int mode, float rate, uint32_t seed) {
  std::vector<float> audio = Silence(3000);
  const int senders[] = {2, 3, 4};
  int k = 0;
  float power = 0.0f;
  for (const char* text : {"caller123", "mem0r1456", "blocks789"}) {
    const int band = mode == QUORLAX_MODE_ALL ? senders[k] : mode;
    const std::vector<float> tx = Transmission(band, rate, text);
    power = Power(tx);
    Append(audio, tx);
    Append(audio, Silence(5000 + 1000 * k++));
  }
  AddNoise(audio, power, 5.0f, seed);
  return audio;
}

TEST(CallerMemory, SameMessagesBitForBit) {
  for (int mode : {2, 5}) {
    for (float rate : {44100.0f, 48000.0f}) {
      QUORLAX_ListenerConfig c = Config(mode, rate);
      c.report_failed = 1;
      const std::vector<float> audio = BusyStream(mode, rate, 7);
      int error = 0;
      QUORLAX_Listener* heap = QUORLAX_ListenerCreateEx(&c, &error);
      ASSERT_NE(heap, nullptr);
      const std::vector<QUORLAX_MessageEx> want = HearAll(heap, audio, 1000);
      QUORLAX_ListenerDestroy(heap);
      ASSERT_EQ(want.size(), 3u) << mode << " @ " << rate;

      const int64_t bytes = QUORLAX_ListenerSize(&c);
      ASSERT_GT(bytes, 0);
      // Misaligned on purpose: any alignment works.
      std::vector<unsigned char> block(static_cast<size_t>(bytes) + 3, 0xA5);
      QUORLAX_Listener* mine = QUORLAX_ListenerInit(block.data() + 3, bytes, &c, &error);
      ASSERT_NE(mine, nullptr) << error;
      EXPECT_GE(reinterpret_cast<unsigned char*>(mine), block.data());
      EXPECT_LT(reinterpret_cast<unsigned char*>(mine), block.data() + block.size());
      const std::vector<QUORLAX_MessageEx> got = HearAll(mine, audio, 777);
      QUORLAX_ListenerDestroy(mine);
      ASSERT_EQ(got.size(), want.size());
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(std::memcmp(&got[i], &want[i], sizeof got[i]), 0) << mode << " @ " << rate << " #" << i;
    }
  }
}

TEST(CallerMemory, HostileBlocksAndConfigs) {
  QUORLAX_ListenerConfig c = Config(2, 44100.0f);
  const int64_t bytes = QUORLAX_ListenerSize(&c);
  std::vector<unsigned char> block(static_cast<size_t>(bytes));
  int error = 0;
  EXPECT_EQ(QUORLAX_ListenerInit(nullptr, bytes, &c, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_ListenerInit(block.data(), bytes - 1, &c, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(QUORLAX_ListenerInit(block.data(), -5, &c, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(QUORLAX_ListenerInit(block.data(), bytes, nullptr, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_ListenerSize(nullptr), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_ListenerCreateEx(nullptr, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_INVALID_ARGUMENT);
  QUORLAX_ListenerConfig small = c;
  small.size = 8;  // a caller built against a struct we never had
  EXPECT_EQ(QUORLAX_ListenerSize(&small), QUORLAX_ERROR_INVALID_ARGUMENT);
  QUORLAX_ListenerConfig custom = Config(6, 44100.0f, 12000.0f, -2);
  EXPECT_EQ(QUORLAX_ListenerSize(&custom), QUORLAX_ERROR_INVALID_ARGUMENT);
  QUORLAX_ListenerConfigInit(nullptr, 2, 44100.0f);  // ignored
  EXPECT_EQ(QUORLAX_ListenerDropped(nullptr), QUORLAX_ERROR_NOT_CONFIGURED);
  QUORLAX_MessageEx m;
  EXPECT_EQ(QUORLAX_ListenerNextEx(nullptr, &m), QUORLAX_ERROR_NOT_CONFIGURED);

  QUORLAX_Listener* l = QUORLAX_ListenerInit(block.data(), bytes, &c, &error);
  ASSERT_NE(l, nullptr);
  m.size = QUORLAX_MESSAGE_EX_SIZE_1_0 - 4;
  EXPECT_EQ(QUORLAX_ListenerNextEx(l, &m), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_ListenerNextEx(l, nullptr), QUORLAX_ERROR_INVALID_ARGUMENT);
  QUORLAX_ListenerDestroy(l);
}

// A custom listener keeps per hop what its detectors read of each band,
// whatever the grid: a block sized for a narrow grid takes a wider one, and
// a message waiting in the queue and the stream position survive the change.
TEST(CallerMemory, AnyCustomGridFitsTheBlock) {
  const float rate = 44100.0f;
  QUORLAX_ListenerConfig c = Config(6, rate, 9000.0f, 0);
  QUORLAX_ListenerConfig wide = Config(6, rate, 9000.0f, 6);
  ASSERT_EQ(QUORLAX_ListenerSize(&wide), QUORLAX_ListenerSize(&c));
  std::vector<unsigned char> block(static_cast<size_t>(QUORLAX_ListenerSize(&c)));
  int error = 0;
  QUORLAX_Listener* l = QUORLAX_ListenerInit(block.data(), static_cast<int64_t>(block.size()), &c, &error);
  ASSERT_NE(l, nullptr);

  Handle sender;
  std::vector<float> first = Silence(3000);
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(9000.0f, 0, sender), 0);
  ASSERT_EQ(QUORLAX_Configure(6, rate, 1024, sender), 0);
  Append(first, Encode(sender, "narr0v123"));
  std::vector<float> audio = Silence(3000);
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(9000.0f, 6, sender), 0);
  ASSERT_EQ(QUORLAX_Configure(6, rate, 1024, sender), 0);
  Append(audio, Encode(sender, "bigrid001"));
  Append(audio, Silence(3000));
  ASSERT_EQ(QUORLAX_SetCustomBaseFreq(12000.0f, 1, sender), 0);

  for (size_t pos = 0; pos < first.size(); pos += 4096)
    QUORLAX_ListenerPush(l, first.data() + pos, static_cast<int>(std::min<size_t>(4096, first.size() - pos)));
  QUORLAX_ListenerFlush(l);
  ASSERT_EQ(QUORLAX_ListenerSetCustom(l, 9000.0f, 6), 0);
  const std::vector<QUORLAX_MessageEx> heard = HearAll(l, audio, 4096);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_STREQ(heard[0].text, "narr0v123");
  EXPECT_STREQ(heard[1].text, "bigrid001");
  // Positions keep counting across the change.
  EXPECT_NEAR(static_cast<double>(heard[1].start), static_cast<double>(first.size() + 3000), 300.0);
  QUORLAX_ListenerDestroy(l);
}

// Capacities are configuration: the defaults as documented, 0 meaning the
// default, out-of-range values refused everywhere, fewer of each taking less
// memory, and a configuration from an older header (which ends before them)
// taking the defaults.
TEST(CallerMemory, CapacitiesInTheConfiguration) {
  const float rate = 44100.0f;
  QUORLAX_ListenerConfig c = Config(2, rate);
  EXPECT_EQ(c.max_readings, 8);
  EXPECT_EQ(c.queue, QUORLAX_LISTENER_QUEUE);
  const int64_t full = QUORLAX_ListenerSize(&c);
  ASSERT_GT(full, 0);
  const struct {
    int readings, queue;
    int64_t expected;  // 0: smaller than the default, > 0: that size, < 0: that code
  } table[] = {{0, 0, full},   {8, 64, full}, {4, 64, 0},    {8, 4, 0},     {1, 1, 0},
               {-1, 64, -4},   {8, -1, -4},   {65537, 64, -4}, {8, 65537, -4}};
  for (const auto& t : table) {
    QUORLAX_ListenerConfig k = c;
    k.max_readings = t.readings;
    k.queue = t.queue;
    const int64_t size = QUORLAX_ListenerSize(&k);
    if (t.expected == 0) {
      EXPECT_GT(size, 0) << t.readings << " " << t.queue;
      EXPECT_LT(size, full) << t.readings << " " << t.queue;
    } else {
      EXPECT_EQ(size, t.expected) << t.readings << " " << t.queue;
    }
    int error = 1;
    QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&k, &error);
    EXPECT_EQ(l != nullptr, size > 0) << t.readings << " " << t.queue;
    EXPECT_EQ(error, size > 0 ? 0 : static_cast<int>(size));
    QUORLAX_ListenerDestroy(l);
  }
  // An older, shorter configuration: whatever lies beyond its size is not read.
  QUORLAX_ListenerConfig old = c;
  old.size = static_cast<uint32_t>(offsetof(QUORLAX_ListenerConfig, max_readings));
  old.max_readings = -7;
  old.queue = -7;
  EXPECT_EQ(QUORLAX_ListenerSize(&old), full);
  old.size -= 1;
  EXPECT_EQ(QUORLAX_ListenerSize(&old), QUORLAX_ERROR_INVALID_ARGUMENT);
}

// One reading in flight is enough for a clean transmission; a queue of two
// keeps the two newest of four messages and counts the others dropped.
TEST(CallerMemory, SmallCapacitiesStillHear) {
  const float rate = 44100.0f;
  QUORLAX_ListenerConfig c = Config(2, rate);
  c.max_readings = 1;
  c.queue = 2;
  int error = 0;
  QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&c, &error);
  ASSERT_NE(l, nullptr);
  std::vector<float> audio = Silence(3000);
  const char* texts[] = {"sma11cap0", "sma11cap1", "sma11cap2", "sma11cap3"};
  for (const char* text : texts) {
    Append(audio, Transmission(2, rate, text));
    Append(audio, Silence(3000));
  }
  ASSERT_EQ(QUORLAX_ListenerPush(l, audio.data(), static_cast<int>(audio.size())), 0);
  ASSERT_EQ(QUORLAX_ListenerFlush(l), 0);
  EXPECT_EQ(QUORLAX_ListenerDropped(l), 2);
  QUORLAX_MessageEx m;
  m.size = sizeof m;
  for (int i = 2; i < 4; ++i) {
    ASSERT_EQ(QUORLAX_ListenerNextEx(l, &m), 1) << i;
    EXPECT_STREQ(m.text, texts[i]);
    EXPECT_EQ(m.ok, 1);
  }
  EXPECT_EQ(QUORLAX_ListenerNextEx(l, &m), 0);
  QUORLAX_ListenerDestroy(l);
}

// A caller that never takes its messages: the queue keeps the newest ones,
// drops the oldest and counts them.
TEST(CallerMemory, FullQueueDropsTheOldestAndCounts) {
  const float rate = 44100.0f;
  QUORLAX_ListenerConfig c = Config(2, rate);
  int error = 0;
  QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&c, &error);
  ASSERT_NE(l, nullptr);
  const int sent = QUORLAX_LISTENER_QUEUE + 5;
  std::vector<std::string> texts;
  std::vector<float> gap = Silence(3000);
  ASSERT_EQ(QUORLAX_ListenerPush(l, gap.data(), static_cast<int>(gap.size())), 0);
  for (int i = 0; i < sent; ++i) {
    char text[10];
    std::snprintf(text, sizeof text, "queue%04d", i);
    texts.push_back(text);
    const std::vector<float> tx = Transmission(2, rate, text);
    ASSERT_EQ(QUORLAX_ListenerPush(l, tx.data(), static_cast<int>(tx.size())), 0);
    ASSERT_EQ(QUORLAX_ListenerPush(l, gap.data(), static_cast<int>(gap.size())), 0);
  }
  ASSERT_EQ(QUORLAX_ListenerFlush(l), 0);
  EXPECT_EQ(QUORLAX_ListenerDropped(l), sent - QUORLAX_LISTENER_QUEUE);
  QUORLAX_MessageEx m;
  m.size = sizeof m;
  for (int i = sent - QUORLAX_LISTENER_QUEUE; i < sent; ++i) {
    ASSERT_EQ(QUORLAX_ListenerNextEx(l, &m), 1) << i;
    EXPECT_EQ(m.text, texts[i]);
  }
  EXPECT_EQ(QUORLAX_ListenerNextEx(l, &m), 0);
  QUORLAX_ListenerDestroy(l);
}

// ---------------------------------------------------------------------------
// The sender.

struct SenderCase {
  int mode;
  float rate;
  float base;
  int separation;
};

std::vector<float> EncoderSamples(const SenderCase& s, const char* text) {
  Handle h;
  if (s.mode == QUORLAX_MODE_CUSTOM) {
    EXPECT_EQ(QUORLAX_SetCustomBaseFreq(s.base, s.separation, h), 0);
  }
  EXPECT_EQ(QUORLAX_Configure(s.mode, s.rate, 1024, h), 0);
  std::vector<float> out = Encode(h, text);
  // The process-wide grid back to its default, through a handle that has no pair to rebuild.
  Handle reset;
  EXPECT_EQ(QUORLAX_SetCustomBaseFreq(QUORLAX_GetDefaultCustomBase(), QUORLAX_GetDefaultCustomSeparation(), reset), 0);
  return out;
}

std::vector<float> SenderSamples(QUORLAX_Sender* s, const std::vector<int>& blocks) {
  std::vector<float> out;
  std::vector<float> buf(100000);
  for (size_t k = 0;; ++k) {
    const int want = blocks[k % blocks.size()];
    const int n = QUORLAX_SenderRender(s, buf.data(), want);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, want);
    if (n <= 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

TEST(Sender, SamplesAreTheEncodersWhateverTheBlocks) {
  const SenderCase cases[] = {{2, 22050.0f, 0, 0},       {2, 44100.0f, 0, 0},  {2, 48000.0f, 0, 0},
                              {3, 44100.0f, 0, 0},       {3, 48000.0f, 0, 0},  {4, 44100.0f, 0, 0},
                              {4, 48000.0f, 0, 0},       {5, 44100.0f, 0, 0},  {5, 48000.0f, 0, 0},
                              {6, 22050.0f, 4000.0f, 1}, {6, 44100.0f, 12000.0f, 1}, {6, 48000.0f, 9000.0f, 3}};
  const std::vector<std::vector<int>> blockings = {{1}, {7, 64, 1}, {128}, {1000, 3}, {4096}, {100000}};
  std::mt19937 rng(5);
  for (const SenderCase& c : cases) {
    const std::vector<float> want = EncoderSamples(c, "Send0v9Ab");
    ASSERT_FALSE(want.empty());
    const float base = c.mode == QUORLAX_MODE_CUSTOM ? c.base : kNaN;  // other modes ignore the grid
    int error = 0;
    std::unique_ptr<QUORLAX_Sender, void (*)(QUORLAX_Sender*)> heap(
        QUORLAX_SenderCreate(c.mode, c.rate, base, c.separation, &error), QUORLAX_SenderDestroy);
    ASSERT_NE(heap, nullptr) << error;
    const int64_t bytes = QUORLAX_SenderSize(c.mode, c.rate, base, c.separation);
    ASSERT_GT(bytes, 0);
    ASSERT_LT(bytes, 8192);  // a few kilobytes, not the transmission
    std::vector<unsigned char> block(static_cast<size_t>(bytes) + 1);
    QUORLAX_Sender* mine = QUORLAX_SenderInit(block.data() + 1, bytes, c.mode, c.rate, base, c.separation, &error);
    ASSERT_NE(mine, nullptr) << error;
    std::vector<int> random(50);
    for (int& b : random) b = 1 + static_cast<int>(rng() % 9000);
    std::vector<std::vector<int>> all = blockings;
    all.push_back(random);
    for (size_t b = 0; b < all.size(); ++b) {
      QUORLAX_Sender* s = b % 2 ? mine : heap.get();
      ASSERT_EQ(QUORLAX_SenderStart(s, "Send0v9Ab"), 0);
      const std::vector<float> got = SenderSamples(s, all[b]);
      ASSERT_EQ(got.size(), want.size()) << c.mode << " @ " << c.rate;
      EXPECT_EQ(std::memcmp(got.data(), want.data(), sizeof(float) * got.size()), 0)
          << c.mode << " @ " << c.rate << " blocking " << b;
    }
    QUORLAX_SenderDestroy(mine);
  }
}

TEST(Sender, HostileCalls) {
  int error = 0;
  EXPECT_EQ(QUORLAX_SenderCreate(3, 22050.0f, 0, 0, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_UNSUPPORTED);
  EXPECT_EQ(QUORLAX_SenderCreate(8, 44100.0f, 0, 0, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_NOT_READY);
  EXPECT_EQ(QUORLAX_SenderCreate(6, 44100.0f, 12000.0f, -1, nullptr), nullptr);
  unsigned char block[16];
  EXPECT_EQ(QUORLAX_SenderInit(block, sizeof block, 2, 44100.0f, 0, 0, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_OUT_OF_MEMORY);
  EXPECT_EQ(QUORLAX_SenderInit(nullptr, 1 << 20, 2, 44100.0f, 0, 0, &error), nullptr);
  EXPECT_EQ(error, QUORLAX_ERROR_INVALID_ARGUMENT);
  float out[8];
  EXPECT_EQ(QUORLAX_SenderStart(nullptr, "hello1234"), QUORLAX_ERROR_NOT_CONFIGURED);
  EXPECT_EQ(QUORLAX_SenderRender(nullptr, out, 8), QUORLAX_ERROR_NOT_CONFIGURED);
  QUORLAX_SenderDestroy(nullptr);

  QUORLAX_Sender* s = QUORLAX_SenderCreate(2, 44100.0f, 0, 0, &error);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(QUORLAX_SenderRender(s, out, 8), 0);  // nothing started
  for (const char* bad : {"hello123", "hello12345", "hello 234", "hellow234", "", "hel\0lo234"})
    EXPECT_EQ(QUORLAX_SenderStart(s, bad), QUORLAX_ERROR_INVALID_ARGUMENT) << bad;
  EXPECT_EQ(QUORLAX_SenderStart(s, nullptr), QUORLAX_ERROR_INVALID_ARGUMENT);
  ASSERT_EQ(QUORLAX_SenderStart(s, "hello1234"), 0);
  EXPECT_EQ(QUORLAX_SenderRender(s, nullptr, 8), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_SenderRender(s, out, -1), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_SenderRender(s, nullptr, 0), 0);
  // A refused start keeps the transmission under way.
  EXPECT_EQ(QUORLAX_SenderRender(s, out, 8), 8);
  EXPECT_EQ(QUORLAX_SenderStart(s, "bad"), QUORLAX_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(QUORLAX_SenderRender(s, out, 8), 8);
  QUORLAX_SenderDestroy(s);
}

// ---------------------------------------------------------------------------
// One confidence rule: levels above the band and unchanged positions to a
// figure, the same through the streaming decoder and the listener.

TEST(Confidence, OneTableThroughBothReaders) {
  const struct {
    float ratioDb;
    int unchanged;  // of 12
    float confidence;
  } table[] = {{-3.0f, 12, 0.0f}, {0.0f, 12, 0.0f},  {7.5f, 12, 0.5f},  {15.0f, 12, 1.0f}, {30.0f, 12, 1.0f},
               {7.5f, 9, 0.375f}, {15.0f, 0, 0.0f},  {3.0f, 6, 0.1f},   {12.0f, 11, 0.73333335f}};
  QUORLAX::DecoderAudibleMultiTone d(44100.0f, 1024, 2048);
  for (const auto& t : table) {
    d.mConfidenceEnergyRatios = t.ratioDb;
    d.mConfidenceCorrection = static_cast<float>(t.unchanged) / 12;
    EXPECT_FLOAT_EQ(d.GetConfidence(), t.confidence) << t.ratioDb << " dB, " << t.unchanged;
  }
  // The listener's messages, in noise that leaves some below full confidence,
  // follow the same rule with their own figures.
  int partial = 0;
  for (float snr : {-16.0f, -19.0f, -21.0f}) {
    QUORLAX_ListenerConfig c = Config(2, 44100.0f);
    c.report_failed = 1;
    int error = 0;
    QUORLAX_Listener* l = QUORLAX_ListenerCreateEx(&c, &error);
    std::vector<float> audio = Silence(4000);
    for (const char* text : {"conf00001", "conf00002", "conf00003"}) {
      Append(audio, Transmission(2, 44100.0f, text));
      Append(audio, Silence(3000));
    }
    AddNoise(audio, 0.1f, snr, 11);
    for (const QUORLAX_MessageEx& m : HearAll(l, audio, 2048)) {
      d.mConfidenceEnergyRatios = m.snr_db;
      d.mConfidenceCorrection = static_cast<float>(12 - m.corrected) / 12;
      EXPECT_EQ(m.confidence, d.GetConfidence()) << m.text << " " << m.snr_db << " dB, " << m.corrected;
      partial += m.confidence < 1.0f;
    }
    QUORLAX_ListenerDestroy(l);
  }
  EXPECT_GT(partial, 0);
}

}  // namespace
