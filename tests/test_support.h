// Helpers shared by the codec tests: encode through the C interface, feed a
// stream the way a host does, and make seeded noise.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"

namespace qtest {

// RAII handle.
struct Handle {
  void* h = QUORLAX_Create();
  Handle() = default;
  Handle(int mode, float rate, int bufferSize = 1024) { configured = QUORLAX_Configure(mode, rate, bufferSize, h); }
  ~Handle() { QUORLAX_Destroy(h); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator void*() const { return h; }
  int configured = -100;
};

inline std::vector<float> Drain(void* h, int bufferSize = 1024) {
  std::vector<float> out, buf(bufferSize);
  int n;
  while ((n = QUORLAX_GetEncodedAudioBuffer(buf.data(), h)) > 0) out.insert(out.end(), buf.begin(), buf.begin() + n);
  return out;
}

inline std::vector<float> Encode(void* h, const std::string& text, int type = 0, const std::string& melody = "") {
  const int n = QUORLAX_EncodeDataToAudioBuffer(text.c_str(), static_cast<int>(text.size()), type,
                                                melody.c_str(), static_cast<int>(melody.size()), h);
  if (n <= 0) return {};
  return Drain(h);
}

// Transmission of `text` in `mode` at `rate`, from a handle of its own.
inline std::vector<float> Transmission(int mode, float rate, const std::string& text) {
  Handle h(mode, rate);
  return Encode(h, text);
}

// Silence a whole-stream reader pushes first so the front door can be found
// in a stream that starts exactly with a transmission.
inline int LeadIn(float rate) {
  if (rate == 44100.0f) return 2048 - 256;
  if (rate == 22050.0f) return 1024 - 128;
  return 2048 - 64;
}

struct Message {
  std::string text;
  int result;
  int mode;
  float confidenceError;
  size_t frontDoorAt;  // samples pushed when the front door was reported
};

struct Events {
  std::vector<int> codes;  // every event except -1
  std::vector<Message> messages;
};

// Pushes `audio` in chunks of `chunk` samples, draining with size-0 pushes
// after each event, as a host does.
inline Events Feed(void* h, const std::vector<float>& audio, size_t chunk) {
  Events ev;
  size_t frontDoor = 0;
  for (size_t pos = 0; pos < audio.size(); pos += chunk) {
    const int len = static_cast<int>(std::min(chunk, audio.size() - pos));
    int code = QUORLAX_DecodeAudioBuffer(const_cast<float*>(audio.data() + pos), len, h);
    while (code != QUORLAX_NOT_READY) {
      if (code < -3) {  // an error: record it and stop feeding this chunk
        ev.codes.push_back(code);
        break;
      }
      ev.codes.push_back(code);
      if (code == QUORLAX_FRONT_DOOR) frontDoor = pos + len;
      if (code == QUORLAX_MESSAGE_COMPLETE) {
        char text[30] = {};
        const int r = QUORLAX_GetDecodedData(text, h);
        ev.messages.push_back({text, r, QUORLAX_GetDecodedMode(h), QUORLAX_GetConfidenceError(h), frontDoor});
      }
      code = QUORLAX_DecodeAudioBuffer(nullptr, 0, h);
    }
  }
  return ev;
}

inline void Append(std::vector<float>& to, const std::vector<float>& from) { to.insert(to.end(), from.begin(), from.end()); }

inline std::vector<float> Silence(size_t n) { return std::vector<float>(n, 0.0f); }

inline float Power(const std::vector<float>& x) {
  double p = 0;
  for (float v : x) p += double(v) * v;
  return x.empty() ? 0.0f : float(p / x.size());
}

// White Gaussian noise of the given power.
inline std::vector<float> Noise(size_t n, float power, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, std::sqrt(power));
  std::vector<float> x(n);
  for (float& v : x) v = g(rng);
  return x;
}

// Adds noise at `snrDb` relative to the power of `signal`.
inline void AddNoise(std::vector<float>& x, float signalPower, float snrDb, uint32_t seed) {
  const std::vector<float> n = Noise(x.size(), signalPower / std::pow(10.0f, snrDb / 10.0f), seed);
  for (size_t i = 0; i < x.size(); ++i) x[i] += n[i];
}

// A transmission framed by lead-in silence and a tail, as a stream.
inline std::vector<float> Framed(const std::vector<float>& tx, float rate, size_t tail = 4096) {
  std::vector<float> s = Silence(LeadIn(rate));
  Append(s, tx);
  Append(s, Silence(tail));
  return s;
}

inline uint32_t Crc32(const void* data, size_t bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < bytes; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace qtest
