// Studies of how transmissions are heard where people are: a talker speaking
// throughout or stopping just before, two senders in different bands at once,
// white noise, a sender whose speed, pitch or tempo is off (sox), and a
// tilted response. Each trial is decoded by the listener and by the streaming
// decoder on the same audio. Prints one CSV row per condition:
//   study,rate,band,level_db,trials,listener,decoder
// (level_db: the talker's level, the SNR, the offset in percent, or the tilt
// in dB). scripts/study.sh runs it and draws docs/studies.png.
//
// Usage: study_listener [--trials N] [--seed S] [--rates 44100,48000]
//   [--bands audible,nonaudible,compression] [--points p1,p2,...]
//   [talker|pause|overlap|noise|speed|pitch|tempo|tilt]...
// --points replaces the levels of the noise, offset and tilt studies.
#include <unistd.h>

#include <algorithm>
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

struct Options {
  int trials = 40;
  uint32_t seed = 1;
  std::vector<float> rates = {44100.0f, 48000.0f};
  std::vector<int> bands = {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION};
  std::vector<double> points;  // empty: each study's own
  double snr = 0.0;
  bool snrGiven = false;
  std::vector<double> PointsOr(std::vector<double> fallback) const { return points.empty() ? fallback : points; }
};

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
void Talker(const Options& o, float rate, bool pause) {
  const int trials = o.trials;
  const uint32_t seed = o.seed;
  Speakers speakers(rate);
  if (speakers.clips.empty()) {
    std::fprintf(stderr, "study: espeak-ng is missing\n");
    return;
  }
  for (int band : o.bands) {
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
void Overlap(const Options& o, float rate) {
  const int trials = o.trials;
  const uint32_t seed = o.seed;
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

// One point of a study: `trials` random transmissions of `band`, each passed
// through `channel`, placed 0.2 to 0.7 s into the trial and followed by
// 0.3 s, in white noise at `snr` dB (transmission power, as sent, over noise
// power over the whole trial). Prints the row.
template <class Channel>
void Point(const Options& o, const char* study, float rate, int band, double level, double snr, Channel channel) {
  int heardL = 0, heardD = 0;
  std::mt19937 rng(o.seed + band);
  for (int t = 0; t < o.trials; ++t) {
    const Sent s{RandomText(rng), band};
    const std::vector<float> tx = Transmission(band, rate, s.text);
    const std::vector<float> played = channel(tx);
    std::vector<float> audio(static_cast<size_t>(rate * (0.2 + 0.5 * (rng() % 1000) / 1000.0)), 0.0f);
    Append(audio, played);
    audio.resize(audio.size() + static_cast<size_t>(0.3 * rate), 0.0f);
    AddNoise(audio, Power(tx), static_cast<float>(snr), rng());
    Decode(audio, rate, {s}, &heardL, &heardD);
  }
  std::printf("%s,%d,%s,%g,%d,%d,%d\n", study, static_cast<int>(rate), BandName(band), level, o.trials, heardL, heardD);
  std::fflush(stdout);
}

// White noise at SNR.
void Noise(const Options& o, float rate) {
  for (int band : o.bands)
    for (double snr : o.PointsOr({-23, -22, -21, -20, -19, -18, -17}))
      Point(o, "noise", rate, band, snr, snr, [](const std::vector<float>& tx) { return tx; });
}

// Runs `audio` through sox with `effects` (and `rate` in and out: sox
// resamples whatever an effect does to the rate). Exits on failure.
std::vector<float> ThroughSox(const std::vector<float>& audio, float rate, const std::string& effects) {
  char in[] = "/tmp/quorlax-study-XXXXXX", out[] = "/tmp/quorlax-study-XXXXXX";
  const int fi = mkstemp(in), fo = mkstemp(out);
  if (fi < 0 || fo < 0) {
    std::perror("study: mkstemp");
    std::exit(2);
  }
  FILE* f = fdopen(fi, "wb");
  std::fwrite(audio.data(), sizeof(float), audio.size(), f);
  std::fclose(f);
  close(fo);
  const std::string r = std::to_string(static_cast<int>(rate));
  const std::string cmd = "sox -D -t f32 -r " + r + " -c 1 " + in + " -t f32 -r " + r + " -c 1 " + out + " " +
                          effects + " 2>/dev/null";
  const int rc = std::system(cmd.c_str());
  std::vector<float> result;
  f = std::fopen(out, "rb");
  if (rc == 0 && f != nullptr) {
    float buf[4096];
    size_t got;
    while ((got = std::fread(buf, sizeof(float), 4096, f)) > 0) result.insert(result.end(), buf, buf + got);
  }
  if (f != nullptr) std::fclose(f);
  std::remove(in);
  std::remove(out);
  if (rc != 0 || result.empty()) {
    std::fprintf(stderr, "study: sox failed: %s\n", cmd.c_str());
    std::exit(2);
  }
  return result;
}

// The transmission with a little quiet on both sides, so that an effect's
// delay or edges cannot cut into it.
std::vector<float> Padded(const std::vector<float>& tx, float rate) {
  std::vector<float> out = Silence(static_cast<size_t>(0.05 * rate));
  Append(out, tx);
  Append(out, Silence(static_cast<size_t>(0.05 * rate)));
  return out;
}

// A sender whose speed (pitch and time), pitch alone or tempo alone is off
// by `percent`, in white noise at `o.snr` dB (0 unless given).
void Offset(const Options& o, float rate, const std::string& kind) {
  for (int band : o.bands) {
    for (double percent : o.PointsOr({-2, -1.5, -1, -0.5, 0, 0.5, 1, 1.5, 2})) {
      const double factor = 1.0 + percent / 100.0;
      char effect[64];
      if (kind == "speed") std::snprintf(effect, sizeof effect, "speed %.6f", factor);
      if (kind == "pitch") std::snprintf(effect, sizeof effect, "pitch %.4f", 1200.0 * std::log2(factor));
      if (kind == "tempo") std::snprintf(effect, sizeof effect, "tempo %.6f", factor);
      Point(o, kind.c_str(), rate, band, percent, o.snr, [&](const std::vector<float>& tx) {
        return percent == 0.0 ? Padded(tx, rate) : ThroughSox(Padded(tx, rate), rate, effect);
      });
    }
  }
}

// A sender or microphone whose response tilts by `tiltDb` across the band
// (negative: the top tone weakest), level at the band's middle, then white
// noise at `o.snr` dB (-10 unless given) against the transmission as sent.
void Tilt(const Options& o, float rate) {
  for (int band : o.bands) {
    QUORLAX_BandInfoEx info;
    info.size = sizeof info;
    if (QUORLAX_GetBandInfoEx(band, rate, QUORLAX_GetDefaultCustomBase(), QUORLAX_GetDefaultCustomSeparation(),
                              &info) != 0)
      continue;
    for (double tilt : o.PointsOr({-40, -30, -20, 20, 30, 40})) {
      const std::vector<double> h = TiltFilter(rate, info.low_hz, info.high_hz, tilt);
      Point(o, "tilt", rate, band, tilt, o.snr,
            [&](const std::vector<float>& tx) { return Filtered(Padded(tx, rate), h); });
    }
  }
}

// Comma-separated numbers.
template <class T>
std::vector<T> ListOf(const char* text) {
  std::vector<T> out;
  for (const char* p = text; *p != '\0';) {
    char* end;
    out.push_back(static_cast<T>(std::strtod(p, &end)));
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> studies;
  for (int i = 1; i < argc; ++i) {
    const bool more = i + 1 < argc;
    if (!std::strcmp(argv[i], "--trials") && more) {
      o.trials = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--seed") && more) {
      o.seed = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--rates") && more) {
      o.rates = ListOf<float>(argv[++i]);
    } else if (!std::strcmp(argv[i], "--points") && more) {
      o.points = ListOf<double>(argv[++i]);
    } else if (!std::strcmp(argv[i], "--snr") && more) {
      o.snr = std::atof(argv[++i]);
      o.snrGiven = true;
    } else if (!std::strcmp(argv[i], "--bands") && more) {
      o.bands.clear();
      std::string names = argv[++i];
      for (size_t at = 0; at <= names.size();) {
        const size_t comma = std::min(names.find(',', at), names.size());
        const int band = QUORLAX_ModeFromName(names.substr(at, comma - at).c_str());
        if (band < 0) {
          std::fprintf(stderr, "study: no band called %s\n", names.substr(at, comma - at).c_str());
          return 2;
        }
        o.bands.push_back(band);
        at = comma + 1;
      }
    } else {
      studies.push_back(argv[i]);
    }
  }
  if (studies.empty()) studies = {"talker", "pause", "overlap", "noise", "tilt", "speed", "pitch", "tempo"};
  std::printf("study,rate,band,level_db,trials,listener,decoder\n");
  for (const std::string& s : studies)
    for (float rate : o.rates) {
      if (s == "talker") Talker(o, rate, false);
      if (s == "pause") Talker(o, rate, true);
      if (s == "overlap") Overlap(o, rate);
      if (s == "noise") Noise(o, rate);
      if (s == "speed" || s == "pitch" || s == "tempo") {
        Options at = o;
        if (!o.snrGiven) at.snr = 0.0;
        Offset(at, rate, s);
      }
      if (s == "tilt") {
        Options at = o;
        if (!o.snrGiven) at.snr = -10.0;
        Tilt(at, rate);
      }
    }
  return 0;
}
