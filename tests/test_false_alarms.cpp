// Audio with no transmission in it, heard by the listener in mode all at 48000
// and 44100 Hz: white noise, pink noise, synthetic speech (espeak-ng, when
// installed) and random notes and chords. Counts the readings that failed
// their check; no message may pass it. scripts/false-alarms.sh runs the same
// for 30 minutes each.
//
// Environment: QUORLAX_FA_SECONDS seconds of each kind per rate (default 120,
// 30 under sanitizers); QUORLAX_FA_SEED.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio_sources.h"
#include "test_support.h"

using namespace qtest;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kDefaultSeconds = 30;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr long kDefaultSeconds = 30;
#else
constexpr long kDefaultSeconds = 120;
#endif
#else
constexpr long kDefaultSeconds = 120;
#endif

long EnvLong(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

struct Count {
  size_t failed = 0, passed = 0, errors = 0;
  size_t byBand[3] = {};  // failed readings per band: audible, non-audible, compression
  std::vector<std::string> passedTexts;
};

// The listener in mode all with failed readings reported: each is a front
// door that opened on something other than a transmission.
Count Listen(Source& src, float rate, double seconds) {
  int error = 0;
  QUORLAX_Listener* l = QUORLAX_ListenerCreate(QUORLAX_MODE_ALL, rate, &error);
  Count c;
  EXPECT_EQ(error, 0);
  if (l == nullptr) return c;
  QUORLAX_ListenerReportFailed(l, 1);
  std::vector<float> buf(4096);
  const size_t total = static_cast<size_t>(seconds * rate);
  auto take = [&] {
    QUORLAX_Message m;
    while (QUORLAX_ListenerNext(l, &m) == 1) {
      if (m.ok) {
        ++c.passed;
        c.passedTexts.push_back(std::string(m.text) + " at " + std::to_string(m.start / rate) + " s");
        continue;
      }
      ++c.failed;
      const int band = m.band == QUORLAX_MODE_AUDIBLE ? 0 : (m.band == QUORLAX_MODE_NONAUDIBLE ? 1 : 2);
      ++c.byBand[band];
    }
  };
  for (size_t done = 0; done < total; done += buf.size()) {
    src.Fill(buf.data(), buf.size());
    if (QUORLAX_ListenerPush(l, buf.data(), static_cast<int>(buf.size())) != 0) ++c.errors;
    take();
  }
  QUORLAX_ListenerFlush(l);
  take();
  QUORLAX_ListenerDestroy(l);
  return c;
}

void Report(const char* kind, float rate, double seconds, const Count& c) {
  std::printf("FALSE_ALARMS kind=%s rate=%d seconds=%.0f failed_readings=%zu per_hour=%.1f "
              "(audible/nonaudible/compression %zu/%zu/%zu) passed_check=%zu errors=%zu\n",
              kind, static_cast<int>(rate), seconds, c.failed, c.failed * 3600.0 / seconds, c.byBand[0],
              c.byBand[1], c.byBand[2], c.passed, c.errors);
  std::fflush(stdout);
  EXPECT_EQ(c.passed, 0u) << kind << " @ " << rate;
  for (const std::string& t : c.passedTexts) ADD_FAILURE() << kind << " @ " << rate << ": passed " << t;
  EXPECT_EQ(c.errors, 0u);
}

class FalseAlarms : public ::testing::TestWithParam<float> {
 protected:
  double seconds = static_cast<double>(EnvLong("QUORLAX_FA_SECONDS", kDefaultSeconds));
  uint32_t seed = static_cast<uint32_t>(EnvLong("QUORLAX_FA_SEED", 7));
};

TEST_P(FalseAlarms, WhiteNoise) {
  White s(seed);
  Report("white", GetParam(), seconds, Listen(s, GetParam(), seconds));
}

TEST_P(FalseAlarms, PinkNoise) {
  Pink s(seed);
  Report("pink", GetParam(), seconds, Listen(s, GetParam(), seconds));
}

TEST_P(FalseAlarms, Music) {
  Music s(GetParam(), seed);
  Report("music", GetParam(), seconds, Listen(s, GetParam(), seconds));
}

TEST_P(FalseAlarms, Speech) {
  for (const char* voice : {"en", "en-us+f3"}) {
    std::vector<float> clip = Speech::Synthesize(GetParam(), voice);
    if (clip.size() < 1000) GTEST_SKIP() << "espeak-ng is not installed";
    Speech s(std::move(clip));
    Report((std::string("speech:") + voice).c_str(), GetParam(), seconds / 2, Listen(s, GetParam(), seconds / 2));
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, FalseAlarms, ::testing::Values(48000.0f, 44100.0f),
                         [](const ::testing::TestParamInfo<float>& i) { return std::to_string(static_cast<int>(i.param)); });

}  // namespace
