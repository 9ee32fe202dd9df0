// The streams the decoder and listener benchmarks hear.
#pragma once

#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "../tests/audio_sources.h"
#include "ZunCoreLib_api.h"

namespace qbench {

inline std::string textFor(int i) {
  static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";
  std::string t = "hello1234";
  for (int k = 0; k < 9; ++k) t[k] = kAlphabet[(i * 7 + k * 13 + (i * k) % 5) % 32];
  return t;
}

// Ten transmissions of `mode` at `rate`, each followed by a second of quiet
// noise, after a leading second of it; with `talker`, espeak-ng speech at the
// transmissions' level under the whole stream. Empty when the mode cannot
// send at the rate or no speech could be synthesised.
// n samples of the streams' faint noise (uniform, +-0.001) onto `out`.
inline void appendFaintNoise(unsigned& seed, int n, std::vector<float>& out) {
  for (int i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out.push_back(0.002f * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f));
  }
}

inline const std::vector<float>& streamFor(int mode, float rate, bool talker = false) {
  static std::map<std::tuple<int, int, bool>, std::vector<float>> cache;
  const auto key = std::make_tuple(mode, static_cast<int>(rate), talker);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  std::vector<float> s;
  unsigned seed = 2024u;
  auto noise = [&](int n) { appendFaintNoise(seed, n, s); };
  void* h = QUORLAX_Create();
  noise(static_cast<int>(rate));
  double txPower = 0.0;
  size_t txSamples = 0;
  if (QUORLAX_Configure(mode, rate, 1024, h) == 0) {
    std::vector<float> buf(1024);
    for (int t = 0; t < 10; ++t) {
      const std::string text = textFor(t);
      QUORLAX_EncodeDataToAudioBuffer(text.c_str(), 9, 0, nullptr, 0, h);
      int n;
      while ((n = QUORLAX_GetEncodedAudioBuffer(buf.data(), h)) > 0) {
        for (int i = 0; i < n; ++i) txPower += static_cast<double>(buf[i]) * buf[i];
        txSamples += static_cast<size_t>(n);
        s.insert(s.end(), buf.begin(), buf.begin() + n);
      }
      noise(static_cast<int>(rate));
    }
  } else {
    s.clear();
  }
  QUORLAX_Destroy(h);
  if (talker && !s.empty()) {
    std::vector<float> clip = qtest::Speech::Synthesize(rate, "en-us+f3");
    if (clip.empty()) {
      s.clear();
    } else {
      qtest::Speech speech(clip);
      std::vector<float> voice(s.size());
      speech.Fill(voice.data(), voice.size());
      double power = 0.0;
      for (float v : voice) power += static_cast<double>(v) * v;
      const float gain = static_cast<float>(std::sqrt(txPower / txSamples / (power / voice.size())));
      for (size_t i = 0; i < s.size(); ++i) s[i] += gain * voice[i];
    }
  }
  return cache[key] = s;
}

// As long as streamFor(mode, rate), its faint noise alone: what a listener
// spends waiting, most of its life.
inline const std::vector<float>& quietStreamFor(int mode, float rate) {
  static std::map<std::tuple<int, int>, std::vector<float>> cache;
  const auto key = std::make_tuple(mode, static_cast<int>(rate));
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  std::vector<float> s;
  unsigned seed = 7u;
  appendFaintNoise(seed, static_cast<int>(streamFor(mode, rate).size()), s);
  return cache[key] = s;
}

}  // namespace qbench
