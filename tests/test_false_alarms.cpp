// Audio with no transmission in it, decoded in mode 5 at 48000 and 44100 Hz:
// white noise, pink noise, synthetic speech (espeak-ng, when installed) and
// random notes and chords. Counts front doors and messages; no message may
// pass its check. scripts/false-alarms.sh runs the same for 30 minutes each.
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

// A source of audio that fills any number of samples.
class Source {
 public:
  virtual ~Source() = default;
  virtual void Fill(float* out, size_t n) = 0;
};

class White : public Source {
 public:
  explicit White(uint32_t seed) : rng_(seed), g_(0.0f, 0.1f) {}
  void Fill(float* out, size_t n) override {
    for (size_t i = 0; i < n; ++i) out[i] = g_(rng_);
  }

 private:
  std::mt19937 rng_;
  std::normal_distribution<float> g_;
};

// Pink by summing rows of held random values, row k refreshed every 2^k samples.
class Pink : public Source {
 public:
  explicit Pink(uint32_t seed) : rng_(seed), u_(-1.0f, 1.0f) {
    for (float& r : rows_) r = u_(rng_);
  }
  void Fill(float* out, size_t n) override {
    for (size_t i = 0; i < n; ++i) {
      ++count_;
      const int k = count_ == 0 ? kRows - 1 : std::min(kRows - 1, __builtin_ctz(count_));
      rows_[k] = u_(rng_);
      float s = u_(rng_);
      for (float r : rows_) s += r;
      out[i] = s * (0.35f / kRows);
    }
  }

 private:
  static constexpr int kRows = 16;
  std::mt19937 rng_;
  std::uniform_real_distribution<float> u_;
  float rows_[kRows];
  uint32_t count_ = 0;
};

// Random notes and 2-4 note chords with harmonics and envelopes, overlapping.
class Music : public Source {
 public:
  Music(float rate, uint32_t seed) : rate_(rate), rng_(seed) {}
  void Fill(float* out, size_t n) override {
    for (size_t i = 0; i < n; ++i, ++t_) {
      if (t_ >= nextEvent_) Start();
      float s = 0.0f;
      for (Voice& v : voices_) {
        if (v.age >= v.length) continue;
        const float x = static_cast<float>(v.age) / static_cast<float>(v.length);
        const float env = std::min(1.0f, x * 40.0f) * std::exp(-3.0f * x) * (1.0f - x);
        float tone = 0.0f;
        for (int h = 1; h <= 4; ++h) tone += std::sin(v.phase * static_cast<float>(h)) / static_cast<float>(h * h);
        s += v.gain * env * tone;
        v.phase += v.step;
        if (v.phase > 2.0f * 3.14159265f * 144.0f) v.phase -= 2.0f * 3.14159265f * 144.0f;
        ++v.age;
      }
      out[i] = s;
    }
    voices_.erase(std::remove_if(voices_.begin(), voices_.end(), [](const Voice& v) { return v.age >= v.length; }),
                  voices_.end());
  }

 private:
  struct Voice {
    float phase, step, gain;
    size_t age, length;
  };
  void Start() {
    const int notes = (rng_() % 3 == 0) ? 1 : 2 + static_cast<int>(rng_() % 3);
    const int root = 48 + static_cast<int>(rng_() % 60);  // MIDI 48..107, up to about 4 kHz
    static const int kShapes[][3] = {{4, 7, 12}, {3, 7, 10}, {5, 9, 12}, {4, 10, 14}, {7, 12, 16}, {2, 7, 11}};
    const int* shape = kShapes[rng_() % 6];
    const size_t length = static_cast<size_t>(rate_ * (0.08f + 0.9f * static_cast<float>(rng_() % 1000) / 1000.0f));
    for (int k = 0; k < notes; ++k) {
      const int midi = root + (k == 0 ? 0 : shape[k - 1]);
      const float f = 440.0f * std::pow(2.0f, static_cast<float>(midi - 69) / 12.0f);
      voices_.push_back({0.0f, 2.0f * 3.14159265f * f / rate_, 0.25f / static_cast<float>(notes), 0, length});
    }
    nextEvent_ = t_ + static_cast<size_t>(rate_ * (0.05f + 0.6f * static_cast<float>(rng_() % 1000) / 1000.0f));
  }
  float rate_;
  std::mt19937 rng_;
  std::vector<Voice> voices_;
  size_t t_ = 0, nextEvent_ = 0;
};

// Speech from espeak-ng, resampled, looped.
class Speech : public Source {
 public:
  explicit Speech(std::vector<float> clip) : clip_(std::move(clip)) {}
  static std::vector<float> Synthesize(float rate) {
    static const char* kText =
        "The morning train was late again, so the station filled with people holding coffee and checking "
        "their phones. A voice on the speaker apologised twice and promised an update in ten minutes. "
        "Nobody believed it. Meanwhile a child counted the pigeons on the roof: seven, eight, nine, and "
        "then one more that landed on the clock. Numbers like four thousand six hundred and eight or "
        "forty four thousand one hundred came up in the conversation of two engineers nearby, who argued "
        "about whether sound could carry a message across a noisy room. Shall we test it tonight, "
        "asked one. Only if the kettle is quiet, said the other, laughing.";
    const std::string cmd = std::string("espeak-ng -s 165 --stdout \"") + kText + "\" 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return {};
    std::vector<unsigned char> wav;
    unsigned char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0) wav.insert(wav.end(), buf, buf + got);
    pclose(p);
    // RIFF: find "fmt " for the rate, then "data"; a streamed header may give no sizes.
    if (wav.size() < 44 || std::memcmp(wav.data(), "RIFF", 4) != 0) return {};
    uint32_t srcRate = 22050;
    size_t pos = 12, data = 0;
    while (pos + 8 <= wav.size()) {
      uint32_t len;
      std::memcpy(&len, &wav[pos + 4], 4);
      if (std::memcmp(&wav[pos], "fmt ", 4) == 0) std::memcpy(&srcRate, &wav[pos + 12], 4);
      if (std::memcmp(&wav[pos], "data", 4) == 0) {
        data = pos + 8;
        break;
      }
      pos += 8 + len;
    }
    if (data == 0) return {};
    std::vector<float> src;
    for (size_t i = data; i + 1 < wav.size(); i += 2)
      src.push_back(static_cast<float>(static_cast<int16_t>(wav[i] | (wav[i + 1] << 8))) / 32768.0f);
    float peak = 1e-6f;
    for (float v : src) peak = std::max(peak, std::fabs(v));
    std::vector<float> out(static_cast<size_t>(static_cast<double>(src.size()) * rate / srcRate));
    for (size_t i = 0; i < out.size(); ++i) {
      const double x = static_cast<double>(i) * srcRate / rate;
      const size_t k = static_cast<size_t>(x);
      const float a = src[std::min(k, src.size() - 1)], b = src[std::min(k + 1, src.size() - 1)];
      out[i] = 0.6f / peak * (a + static_cast<float>(x - static_cast<double>(k)) * (b - a));
    }
    return out;
  }
  void Fill(float* out, size_t n) override {
    for (size_t i = 0; i < n; ++i) {
      out[i] = clip_[pos_];
      pos_ = (pos_ + 1) % clip_.size();
    }
  }

 private:
  std::vector<float> clip_;
  size_t pos_ = 0;
};

struct Count {
  size_t frontDoors = 0, messages = 0, passed = 0, errors = 0;
  size_t byBand[3] = {};  // messages per band heard: audible, non-audible, compression
  std::vector<std::string> passedTexts;
};

Count Listen(Source& src, float rate, double seconds) {
  Handle h(QUORLAX_MODE_ALL, rate);
  Count c;
  EXPECT_EQ(h.configured, 0);
  std::vector<float> buf(4096);
  const size_t total = static_cast<size_t>(seconds * rate);
  for (size_t done = 0; done < total; done += buf.size()) {
    src.Fill(buf.data(), buf.size());
    for (int code = QUORLAX_DecodeAudioBuffer(buf.data(), static_cast<int>(buf.size()), h); code != QUORLAX_NOT_READY;
         code = QUORLAX_DecodeAudioBuffer(nullptr, 0, h)) {
      if (code < -3) {
        ++c.errors;
        break;
      }
      if (code == QUORLAX_FRONT_DOOR) ++c.frontDoors;
      if (code == QUORLAX_MESSAGE_COMPLETE) {
        ++c.messages;
        const int band = QUORLAX_GetDecodedMode(h);
        if (band >= 0 && band < 3) ++c.byBand[band];
        char text[30] = {};
        if (QUORLAX_GetDecodedData(text, h) == 9) {
          ++c.passed;
          c.passedTexts.push_back(std::string(text) + " at " + std::to_string(done / rate) + " s");
        }
      }
    }
  }
  return c;
}

void Report(const char* kind, float rate, double seconds, const Count& c) {
  std::printf("FALSE_ALARMS kind=%s rate=%d seconds=%.0f front_doors=%zu front_doors_per_hour=%.1f messages=%zu "
              "(audible/nonaudible/compression %zu/%zu/%zu) passed_check=%zu errors=%zu\n",
              kind, static_cast<int>(rate), seconds, c.frontDoors, c.frontDoors * 3600.0 / seconds, c.messages,
              c.byBand[0], c.byBand[1], c.byBand[2], c.passed, c.errors);
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
  std::vector<float> clip = Speech::Synthesize(GetParam());
  if (clip.size() < 1000) GTEST_SKIP() << "espeak-ng is not installed";
  Speech s(std::move(clip));
  Report("speech", GetParam(), seconds, Listen(s, GetParam(), seconds));
}

INSTANTIATE_TEST_SUITE_P(Rates, FalseAlarms, ::testing::Values(48000.0f, 44100.0f),
                         [](const ::testing::TestParamInfo<float>& i) { return std::to_string(static_cast<int>(i.param)); });

}  // namespace
