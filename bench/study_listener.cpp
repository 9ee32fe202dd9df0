// Studies of how transmissions are heard where people are: a talker speaking
// throughout or stopping just before, two senders in different bands at once,
// and white noise. Each trial is decoded by the listener and by the streaming
// decoder on the same audio. Prints one CSV row per condition:
//   study,rate,band,level_db,trials,listener,decoder
// scripts/study.sh runs it and draws docs/studies.png.
//
// Usage: study_listener [--trials N] [--seed S] [talker|pause|overlap|noise]...
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../tests/audio_sources.h"
#include "../tests/test_support.h"
#include "ZunCoreLib_api.h"

using namespace qtest;

namespace {

const char* kVoices[] = {"en", "en-us+f3", "en-gb-scotland+m3", "en-us+f5"};
const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";

struct Sent {
  std::string text;
  int band;  // QUORLAX_MODE_*
};

std::string RandomText(std::mt19937& rng) {
  std::string t(9, '0');
  for (char& c : t) c = kAlphabet[rng() % 32];
  return t;
}

double Rms(const float* x, size_t n) {
  double p = 0.0;
  for (size_t i = 0; i < n; ++i) p += double(x[i]) * x[i];
  return n > 0 ? std::sqrt(p / n) : 0.0;
}

void MixAt(std::vector<float>& into, const std::vector<float>& x, size_t at, float gain = 1.0f) {
  if (into.size() < at + x.size()) into.resize(at + x.size(), 0.0f);
  for (size_t i = 0; i < x.size(); ++i) into[at + i] += gain * x[i];
}

// How many of `sent` each decoder heard (text and band right, check passed).
void Decode(const std::vector<float>& audio, float rate, const std::vector<Sent>& sent, int* listener, int* decoder) {
  int error = 0;
  QUORLAX_Listener* l = QUORLAX_ListenerCreate(QUORLAX_MODE_ALL, rate, &error);
  QUORLAX_ListenerPush(l, audio.data(), static_cast<int>(audio.size()));
  QUORLAX_ListenerFlush(l);
  QUORLAX_Message m;
  std::vector<bool> got(sent.size(), false);
  while (QUORLAX_ListenerNext(l, &m) == 1)
    for (size_t i = 0; i < sent.size(); ++i)
      if (m.ok && sent[i].text == m.text && sent[i].band == m.band) got[i] = true;
  QUORLAX_ListenerDestroy(l);
  for (bool g : got) *listener += g;

  Handle h(QUORLAX_MODE_ALL, rate);
  const Events ev = Feed(h, Framed(audio, rate), 1024);
  std::vector<bool> seen(sent.size(), false);
  for (const Message& msg : ev.messages)
    for (size_t i = 0; i < sent.size(); ++i)
      if (msg.result == 9 && sent[i].text == msg.text) seen[i] = true;
  for (bool g : seen) *decoder += g;
}

const char* BandName(int mode) {
  return mode == QUORLAX_MODE_AUDIBLE ? "audible" : (mode == QUORLAX_MODE_NONAUDIBLE ? "nonaudible" : "compression");
}

struct Speakers {
  std::vector<std::vector<float>> clips;
  explicit Speakers(float rate) {
    for (const char* v : kVoices) {
      std::vector<float> c = Speech::Synthesize(rate, v);
      if (c.size() > 1000) clips.push_back(std::move(c));
    }
  }
  // `seconds` of one voice from a random place, at RMS `rms`.
  std::vector<float> Take(std::mt19937& rng, float rate, double seconds, double rms) const {
    const std::vector<float>& c = clips[rng() % clips.size()];
    std::vector<float> out(static_cast<size_t>(seconds * rate));
    size_t pos = rng() % c.size();
    for (float& v : out) {
      v = c[pos];
      pos = (pos + 1) % c.size();
    }
    const double now = Rms(out.data(), out.size());
    for (float& v : out) v = static_cast<float>(v * rms / std::max(now, 1e-9));
    return out;
  }
};

// A talker at `levelDb` relative to the transmission, speaking throughout (or,
// with `pause`, stopping 0 to 0.3 s before the transmission starts).
void Talker(float rate, int trials, uint32_t seed, bool pause) {
  Speakers speakers(rate);
  if (speakers.clips.empty()) {
    std::fprintf(stderr, "study: espeak-ng is missing\n");
    return;
  }
  for (int band : {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION}) {
    for (double levelDb : {-6.0, 0.0, 6.0}) {
      int heardL = 0, heardD = 0;
      std::mt19937 rng(seed + band * 100 + static_cast<int>(levelDb));
      for (int t = 0; t < trials; ++t) {
        const Sent s{RandomText(rng), band};
        const std::vector<float> tx = Transmission(band, rate, s.text);
        const double txRms = Rms(tx.data(), tx.size());
        const size_t at = static_cast<size_t>((0.3 + 3.0 * (rng() % 1000) / 1000.0) * rate);
        std::vector<float> audio = speakers.Take(rng, rate, 7.0, txRms * std::pow(10.0, levelDb / 20.0));
        if (pause) {
          const size_t stop = at - static_cast<size_t>(0.3 * rate * (rng() % 1000) / 1000.0);
          std::fill(audio.begin() + stop, audio.end(), 0.0f);
        }
        MixAt(audio, tx, at);
        Decode(audio, rate, {s}, &heardL, &heardD);
      }
      std::printf("%s,%d,%s,%g,%d,%d,%d\n", pause ? "pause" : "talker", static_cast<int>(rate), BandName(band),
                  levelDb, trials, heardL, heardD);
      std::fflush(stdout);
    }
  }
}

// Two senders in different bands, overlapping by 0.5 to 2 s.
void Overlap(float rate, int trials, uint32_t seed) {
  const int pairs[][2] = {{QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE},
                          {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_COMPRESSION},
                          {QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION}};
  for (const auto& p : pairs) {
    int heardL = 0, heardD = 0;
    std::mt19937 rng(seed + p[0] * 10 + p[1]);
    for (int t = 0; t < trials; ++t) {
      const Sent a{RandomText(rng), p[0]}, b{RandomText(rng), p[1]};
      const std::vector<float> ta = Transmission(a.band, rate, a.text), tb = Transmission(b.band, rate, b.text);
      const double overlap = 0.5 + 1.5 * (rng() % 1000) / 1000.0;
      const size_t startA = static_cast<size_t>(0.5 * rate);
      const size_t startB = startA + ta.size() - static_cast<size_t>(overlap * rate);
      std::vector<float> audio(startB + tb.size() + static_cast<size_t>(0.5 * rate), 0.0f);
      MixAt(audio, ta, startA, 0.5f);
      MixAt(audio, tb, startB, 0.5f);
      AddNoise(audio, 0.25f * Power(ta), 10.0f, seed + t);
      Decode(audio, rate, {a, b}, &heardL, &heardD);
    }
    std::printf("overlap,%d,%s+%s,0,%d,%d,%d\n", static_cast<int>(rate), BandName(p[0]), BandName(p[1]), 2 * trials,
                heardL, heardD);
    std::fflush(stdout);
  }
}

// White noise at SNR (transmission power over noise power).
void Noise(float rate, int trials, uint32_t seed) {
  for (int band : {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION}) {
    for (double snr = -22.0; snr <= -14.0; snr += 1.0) {
      int heardL = 0, heardD = 0;
      std::mt19937 rng(seed + band);
      for (int t = 0; t < trials; ++t) {
        const Sent s{RandomText(rng), band};
        const std::vector<float> tx = Transmission(band, rate, s.text);
        std::vector<float> audio(static_cast<size_t>(rate * (0.2 + 0.5 * (rng() % 1000) / 1000.0)), 0.0f);
        Append(audio, tx);
        audio.resize(audio.size() + static_cast<size_t>(0.3 * rate), 0.0f);
        AddNoise(audio, Power(tx), static_cast<float>(snr), rng());
        Decode(audio, rate, {s}, &heardL, &heardD);
      }
      std::printf("noise,%d,%s,%g,%d,%d,%d\n", static_cast<int>(rate), BandName(band), snr, trials, heardL, heardD);
      std::fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 40;
  uint32_t seed = 1;
  std::vector<std::string> studies;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--trials") && i + 1 < argc) {
      trials = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) {
      seed = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else {
      studies.push_back(argv[i]);
    }
  }
  if (studies.empty()) studies = {"talker", "pause", "overlap", "noise"};
  std::printf("study,rate,band,level_db,trials,listener,decoder\n");
  for (const std::string& s : studies)
    for (float rate : {44100.0f, 48000.0f}) {
      if (s == "talker") Talker(rate, trials, seed, false);
      if (s == "pause") Talker(rate, trials, seed, true);
      if (s == "overlap") Overlap(rate, trials, seed);
      if (s == "noise") Noise(rate, trials, seed);
    }
  return 0;
}
