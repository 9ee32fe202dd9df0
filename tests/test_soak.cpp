// Long-stream soak: random messages in random bands (audible, non-audible,
// compression) at random gaps under continuous white noise at 0 dB SNR,
// pushed in random sizes into one mode-5 decoder at 48000 Hz. Every
// transmission must decode with its text and band, nothing else may pass
// its check, and resident memory must stay flat after a warm-up.
//
// Environment (scripts/soak.sh sets them for the full run):
//   QUORLAX_SOAK_TRANSMISSIONS  number of transmissions (default 30)
//   QUORLAX_SOAK_MIN_SECONDS    pad the stream with noise up to this length
//   QUORLAX_SOAK_SEED           stream seed (default 20240601)
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using namespace qtest;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long EnvLong(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

long RssKb() {
  long pages = 0, resident = 0;
  std::ifstream statm("/proc/self/statm");
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const char* BandName(int band) {
  static const char* kNames[] = {"audible", "nonaudible", "compression", "custom"};
  return band >= 0 && band <= 3 ? kNames[band] : "none";
}

struct Sent {
  std::string text;
  int band;
  size_t start, end;  // stream samples
  std::vector<std::string> heard;  // text/result/band of messages completed inside
  std::vector<size_t> frontDoors;
  bool ok = false;
};

TEST(Soak, LongNoisyStreamAllModes) {
  const float rate = 48000.0f;
  const int transmissions = static_cast<int>(EnvLong("QUORLAX_SOAK_TRANSMISSIONS", 30));
  const double minSeconds = static_cast<double>(EnvLong("QUORLAX_SOAK_MIN_SECONDS", 0));
  std::mt19937 rng(static_cast<uint32_t>(EnvLong("QUORLAX_SOAK_SEED", 20240601)));

  // One encoder per band, and the noise level from their mean power.
  const int modes[3] = {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION};
  std::vector<std::unique_ptr<Handle>> encoders;
  float meanPower = 0.0f;
  for (int m : modes) {
    encoders.push_back(std::make_unique<Handle>(m, rate));
    ASSERT_EQ(encoders.back()->configured, 0);
    meanPower += Power(Encode(*encoders.back(), "soak12345")) / 3.0f;
  }
  ASSERT_GT(meanPower, 0.0f);
  std::normal_distribution<float> noise(0.0f, std::sqrt(meanPower));

  Handle decoder(QUORLAX_MODE_ALL, rate);
  ASSERT_EQ(decoder.configured, 0);

  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";
  std::vector<Sent> sent;
  std::deque<float> pending;  // generated, not yet pushed
  std::vector<float> chunk;
  size_t pushed = 0, frontDoorCount = 0, falseChecked = 0, failedChecks = 0, errors = 0;
  std::vector<std::string> strays;
  long rssWarm = 0;
  std::uniform_real_distribution<double> gap(0.3, 3.0);
  std::uniform_int_distribution<int> pushSize(1, 4096);
  const auto t0 = std::chrono::steady_clock::now();

  auto pushSome = [&](bool all) {
    while (!pending.empty() && (all || pending.size() >= 4096)) {
      const size_t n = std::min<size_t>(static_cast<size_t>(pushSize(rng)), pending.size());
      chunk.assign(pending.begin(), pending.begin() + static_cast<long>(n));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
      int code = QUORLAX_DecodeAudioBuffer(chunk.data(), static_cast<int>(n), decoder);
      pushed += n;
      while (code != QUORLAX_NOT_READY) {
        if (code < -3) {
          ++errors;
          break;
        }
        Sent* owner = nullptr;  // the latest transmission that began before this point
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
          if (it->start <= pushed) {
            owner = &*it;
            break;
          }
        if (code == QUORLAX_FRONT_DOOR) {
          ++frontDoorCount;
          if (owner != nullptr) owner->frontDoors.push_back(pushed);
        }
        if (code == QUORLAX_MESSAGE_COMPLETE) {
          char text[30] = {};
          const int r = QUORLAX_GetDecodedData(text, decoder);
          const int band = QUORLAX_GetDecodedMode(decoder);
          const std::string what = std::string(text) + "/" + std::to_string(r) + "/" + BandName(band);
          if (r != 9) ++failedChecks;
          // A message completes during its transmission's tail or the next gap.
          if (owner != nullptr && pushed <= owner->end + static_cast<size_t>(rate)) {
            owner->heard.push_back(what);
            if (r == 9 && text == owner->text && band == owner->band) {
              owner->ok = true;
            } else if (r == 9) {
              ++falseChecked;
            }
          } else if (r == 9) {
            strays.push_back(what + " at " + std::to_string(pushed / rate) + " s");
            ++falseChecked;
          }
        }
        code = QUORLAX_DecodeAudioBuffer(nullptr, 0, decoder);
      }
    }
  };
  size_t generated = 0;
  auto addNoisy = [&](const std::vector<float>& x, size_t n) {
    for (size_t i = 0; i < n; ++i) pending.push_back((i < x.size() ? x[i] : 0.0f) + noise(rng));
    generated += n;
    pushSome(false);
  };

  const std::vector<float> none;
  for (int k = 0; k < transmissions; ++k) {
    addNoisy(none, static_cast<size_t>(gap(rng) * rate));
    const int which = static_cast<int>(rng() % 3);
    std::string text;
    for (int i = 0; i < 9; ++i) text += kAlphabet[rng() % 32];
    const std::vector<float> tx = Encode(*encoders[which], text);
    ASSERT_FALSE(tx.empty());
    sent.push_back({text, which, generated, generated + tx.size(), {}, {}, false});
    addNoisy(tx, tx.size());
    if (k == std::min(3, transmissions - 1)) rssWarm = RssKb();
  }
  addNoisy(none, static_cast<size_t>(2 * rate));
  while (static_cast<double>(generated) < minSeconds * rate) addNoisy(none, static_cast<size_t>(rate));
  pushSome(true);
  const long rssEnd = RssKb();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  int decoded = 0;
  for (const Sent& s : sent) {
    decoded += s.ok;
    if (!s.ok) {
      std::string fd, heard;
      for (size_t p : s.frontDoors) fd += " " + std::to_string((static_cast<double>(p) - s.start) / rate);
      for (const std::string& h : s.heard) heard += " " + h;
      ADD_FAILURE() << "lost " << s.text << " (" << BandName(s.band) << ") sent at " << s.start / rate
                    << " s; front doors at +s:" << (fd.empty() ? " none" : fd)
                    << "; heard:" << (heard.empty() ? " nothing" : heard);
    }
  }
  for (const std::string& s : strays) ADD_FAILURE() << "message passed its check outside any transmission: " << s;
  std::printf("SOAK transmissions=%d decoded=%d audio_s=%.1f wall_s=%.1f front_doors=%zu failed_checks=%zu "
              "false_checked=%zu errors=%zu rss_warm_kb=%ld rss_end_kb=%ld\n",
              transmissions, decoded, static_cast<double>(generated) / rate, wall, frontDoorCount, failedChecks,
              falseChecked, errors, rssWarm, rssEnd);
  EXPECT_EQ(decoded, transmissions);
  EXPECT_EQ(falseChecked, 0u);
  EXPECT_EQ(errors, 0u);
  // Sanitizer runtimes keep freed memory in quarantine, so only a plain build measures.
  if (!kSanitized) {
    EXPECT_LE(rssEnd - rssWarm, 2048) << "resident memory grew";
  }
}

}  // namespace
