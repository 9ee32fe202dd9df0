// quorlax demo: encodes a message, makes a noisy echoing copy and decodes both.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "decode_stream.h"
#include "io/resample.h"
#include "io/sound_file.h"
#include "message.h"

namespace cli {
namespace {

int RunDemo(const Options& o) {
  if (!o.args.empty()) throw Error("demo takes no arguments");
  const std::string msg = "hello1234";
  const int rate = 44100;
  ModeChoice audible;
  audible.mode = QUORLAX_MODE_AUDIBLE;
  const std::vector<float> clean = EncodeMessage(msg, audible, rate, 0, "", nullptr);
  WriteSoundFile("quorlax-demo.wav", clean, rate, false);
  std::printf("Encoded \"%s\" as %.2f s of audible tones at %d Hz: quorlax-demo.wav\n", msg.c_str(),
              static_cast<double>(clean.size()) / rate, rate);

  // A room: half a second of background either side, a short reverberant
  // tail, and white noise as strong as the transmission itself (0 dB SNR).
  std::mt19937 rng(20240607u);
  const size_t pad = rate / 2;
  std::vector<float> dry(pad + clean.size() + pad, 0.0f);
  std::copy(clean.begin(), clean.end(), dry.begin() + pad);

  // Sparse random taps under an exponential envelope stand in for a dense
  // noise tail at a fraction of the cost of a full convolution.
  const double tail_s = 0.15;
  const int tail = static_cast<int>(tail_s * rate);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::pair<int, float>> taps;
  double tap_energy = 0.0;
  for (int at = 1 + static_cast<int>(unit(rng) * 20); at < tail; at += 10 + static_cast<int>(unit(rng) * 30)) {
    const double env = std::exp(-6.9 * at / tail);  // -60 dB at the end of the tail
    const float g = static_cast<float>((unit(rng) < 0.5 ? -1.0 : 1.0) * env);
    taps.emplace_back(at, g);
    tap_energy += static_cast<double>(g) * g;
  }
  const float wet_gain = static_cast<float>(std::sqrt(0.25 / tap_energy));  // tail 6 dB under the direct sound
  std::vector<float> room(dry);
  for (const auto& tap : taps) {
    const float g = tap.second * wet_gain;
    for (size_t i = pad; i < pad + clean.size(); ++i) room[i + tap.first] += g * dry[i];
  }

  double power = 0.0;
  for (float s : clean) power += static_cast<double>(s) * s;
  power /= static_cast<double>(clean.size());
  std::normal_distribution<double> gauss(0.0, std::sqrt(power));
  float peak = 0.0f;
  for (float& s : room) {
    s += static_cast<float>(gauss(rng));
    peak = std::max(peak, std::fabs(s));
  }
  if (peak > 0.95f)
    for (float& s : room) s *= 0.95f / peak;
  WriteSoundFile("quorlax-demo-noisy.wav", room, rate, false);
  std::printf("Added a %.2f s echo tail and white noise at 0 dB SNR: quorlax-demo-noisy.wav\n", tail_s);

  int heard = 0;
  for (const char* name : {"quorlax-demo.wav", "quorlax-demo-noisy.wav"}) {
    std::vector<Message> got;
    ModeChoice all;
    all.mode = QUORLAX_MODE_ALL;
    std::unique_ptr<SampleSource> input = OpenSoundFile(name);
    // The rate first: an argument list may move `input` before it reads it.
    const int rate = DecodingRateFor(all, input->Rate());
    input = Resample(std::move(input), rate);
    DecodeChannels(*input, all, {{0, [&](const Message& m) { got.push_back(m); }}}, nullptr);
    bool found = false;
    for (const Message& m : got) {
      std::printf("%s: heard \"%s\" in the %s band at %.2f s, %s (confidence %.2f, level %.1f dB)\n", name,
                  m.text.c_str(), BandName(m.band).c_str(), m.time_s,
                  m.ok ? "check passed" : "check failed", m.confidence, m.level_db);
      if (m.ok && m.text == msg) found = true;
    }
    if (got.empty()) std::printf("%s: heard nothing\n", name);
    if (found) ++heard;
  }
  std::printf(heard == 2 ? "Both recordings gave back \"%s\".\n" : "Not every recording gave back \"%s\".\n",
              msg.c_str());
  return heard == 2 ? kExitFound : kExitNothing;
}

const char kDemoHelp[] =
    "Usage: quorlax demo\n"
    "\n"
    "Encodes \"hello1234\", makes a noisy echoing copy and decodes both, writing\n"
    "quorlax-demo.wav and quorlax-demo-noisy.wav in the current directory.\n";

}  // namespace

const Command kDemoCommand = {"demo", "encode, add noise and echo, decode", kDemoHelp, {}, RunDemo};

}  // namespace cli
