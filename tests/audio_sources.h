// Audio that is not a transmission, for the tests and the studies: white and
// pink noise, random-note music and espeak-ng speech, each filling any number
// of samples from a seed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace qtest {

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

// Speech from espeak-ng, resampled, peak-normalised to 0.6, looped.
class Speech : public Source {
 public:
  explicit Speech(std::vector<float> clip) : clip_(std::move(clip)) {}
  // `voice` is an espeak-ng voice ("en", "en-us+f3", ...); empty when espeak-ng is missing.
  static std::vector<float> Synthesize(float rate, const std::string& voice = "en") {
    static const char* kText =
        "The morning train was late again, so the station filled with people holding coffee and checking "
        "their phones. A voice on the speaker apologised twice and promised an update in ten minutes. "
        "Nobody believed it. Meanwhile a child counted the pigeons on the roof: seven, eight, nine, and "
        "then one more that landed on the clock. Numbers like four thousand six hundred and eight or "
        "forty four thousand one hundred came up in the conversation of two engineers nearby, who argued "
        "about whether sound could carry a message across a noisy room. Shall we test it tonight, "
        "asked one. Only if the kettle is quiet, said the other, laughing.";
    const std::string cmd = "espeak-ng -s 165 -v " + voice + " --stdout \"" + kText + "\" 2>/dev/null";
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

// A linear-phase FIR (frequency sampling, Blackman window, 1023 taps) whose
// gain in dB rises linearly by `tiltDb` from lowHz to highHz, through 0 dB
// halfway, and stays flat outside: a sender or microphone whose response
// tilts across a band.
inline std::vector<double> TiltFilter(float rate, double lowHz, double highHz, double tiltDb) {
  const int taps = 1023, points = 4096;
  const double pi = 3.14159265358979323846;
  std::vector<double> h(taps, 0.0);
  for (int k = 0; k <= points / 2; ++k) {
    const double f = k * static_cast<double>(rate) / points;
    const double x = std::min(1.0, std::max(0.0, (f - lowHz) / (highHz - lowHz)));
    const double gain = std::pow(10.0, (x - 0.5) * tiltDb / 20.0) * ((k == 0 || k == points / 2) ? 1.0 : 2.0) / points;
    for (int n = 0; n < taps; ++n) h[n] += gain * std::cos(2.0 * pi * k * (n - (taps - 1) / 2.0) / points);
  }
  for (int n = 0; n < taps; ++n)
    h[n] *= 0.42 - 0.5 * std::cos(2.0 * pi * n / (taps - 1)) + 0.08 * std::cos(4.0 * pi * n / (taps - 1));
  return h;
}

// x through the FIR h, delay removed: as long as x.
inline std::vector<float> Filtered(const std::vector<float>& x, const std::vector<double>& h) {
  const long half = static_cast<long>(h.size() / 2), n = static_cast<long>(x.size());
  std::vector<float> y(x.size());
  for (long i = 0; i < n; ++i) {
    double acc = 0.0;
    const long lo = std::max(0L, i + half - n + 1), hi = std::min(static_cast<long>(h.size()), i + half + 1);
    for (long k = lo; k < hi; ++k) acc += h[k] * x[i + half - k];
    y[i] = static_cast<float>(acc);
  }
  return y;
}

}  // namespace qtest
