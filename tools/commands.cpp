#include "commands.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "ZunCoreLib_api.h"
#include "audio_io.h"
#include "decode_stream.h"
#include "report.h"

namespace cli {
namespace {

constexpr int kEncodeBuffer = 1024;
constexpr int kMessageLength = 9;

bool InAlphabet(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'v') || (c >= 'A' && c <= 'V');
}

std::string Shown(char c) {
  if (static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f) return std::string(1, c);
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
  return buf;
}

void CheckAlphabet(const std::string& s, const char* what) {
  for (size_t i = 0; i < s.size(); ++i)
    if (!InAlphabet(s[i]))
      throw Error("invalid character '" + Shown(s[i]) + "' at position " + std::to_string(i + 1) + " in " +
                  what + " (allowed: 0-9, a-v)");
}

void CheckMessage(const std::string& msg) {
  CheckAlphabet(msg, "message");
  if (msg.size() != static_cast<size_t>(kMessageLength))
    throw Error("message '" + msg + "' has " + std::to_string(msg.size()) + " characters; it needs exactly " +
                std::to_string(kMessageLength));
}

struct Handle {
  void* h = QUORLAX_Create();
  Handle() {
    if (h == nullptr) throw Error("out of memory");
  }
  ~Handle() { QUORLAX_Destroy(h); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// Encodes one transmission; throws Error with the library's reason.
std::vector<float> EncodeMessage(const std::string& msg, const ModeChoice& choice, int rate, int type,
                                 const std::string& melody, const float* volume_db) {
  Handle handle;
  const int c = ConfigureHandle(handle.h, choice, rate, kEncodeBuffer);
  if (c != QUORLAX_OK) throw Error(ConfigureErrorText(c, choice, rate));
  if (volume_db != nullptr) {
    const int r = QUORLAX_SetSynthVolume(*volume_db, handle.h);
    if (r != QUORLAX_OK) throw Error(std::string("--volume: ") + QUORLAX_GetErrorText(r));
  }
  const int n = QUORLAX_EncodeDataToAudioBuffer(msg.data(), static_cast<int32_t>(msg.size()), type,
                                                melody.empty() ? nullptr : melody.data(),
                                                static_cast<int32_t>(melody.size()), handle.h);
  if (n < 0) {
    if (type == 2 && n == QUORLAX_ERROR_INVALID_ARGUMENT) {
      const int token = static_cast<int>(0.10448979586362839f * static_cast<float>(rate));
      throw Error("melody of " + std::to_string(melody.size()) + " notes is too long (at most " +
                  std::to_string(static_cast<int>(static_cast<float>(rate) * 10) / token) + " at " +
                  std::to_string(rate) + " Hz)");
    }
    throw Error(std::string("cannot encode '") + msg + "': " + QUORLAX_GetErrorText(n));
  }
  std::vector<float> audio;
  audio.reserve(static_cast<size_t>(n));
  std::vector<float> buf(kEncodeBuffer);
  for (;;) {
    const int got = QUORLAX_GetEncodedAudioBuffer(buf.data(), handle.h);
    if (got < 0) throw Error(std::string("cannot encode: ") + QUORLAX_GetErrorText(got));
    if (got == 0) break;
    audio.insert(audio.end(), buf.begin(), buf.begin() + got);
  }
  return audio;
}

// A percentage on stderr, kept out of the way of the messages on stdout.
class Progress {
 public:
  explicit Progress(bool on) : on_(on) {}
  ~Progress() { Clear(); }
  void Update(double fraction) {
    if (!on_) return;
    const int pct = static_cast<int>(fraction * 100.0);
    if (pct == last_) return;
    last_ = pct;
    std::fprintf(stderr, "\rquorlax: decoding %3d%%", pct);
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = false;
    last_ = -1;
  }
  bool On() const { return on_; }

 private:
  bool on_;
  bool shown_ = false;
  int last_ = -1;
};

// Decodes `source`, printing messages as they complete; returns how many passed.
int DecodeAndPrint(std::unique_ptr<SampleSource> source, const ModeChoice& choice, bool json, bool all,
                   Progress* progress) {
  int passed = 0;
  auto sink = [&](const Message& m) {
    if (m.ok) ++passed;
    if (!m.ok && !all) return;
    if (progress != nullptr) progress->Clear();
    std::printf("%s\n", FormatMessage(m, json).c_str());
    std::fflush(stdout);
  };
  std::function<void(double)> report;
  if (progress != nullptr && progress->On()) report = [progress](double f) { progress->Update(f); };
  DecodeSource(std::move(source), choice, sink, report);
  return passed;
}

ModeChoice DecodeMode(const Options& o) {
  if (o.mode_given) return o.mode;
  ModeChoice all;
  all.mode = QUORLAX_MODE_ALL;
  return all;
}

// Counts what passes through, to tell an empty stream from a silent one.
class CountingSource : public SampleSource {
 public:
  CountingSource(std::unique_ptr<SampleSource> inner, size_t* count) : inner_(std::move(inner)), count_(count) {}
  size_t Read(float* out, size_t max) override {
    const size_t n = inner_->Read(out, max);
    *count_ += n;
    return n;
  }
  int Rate() const override { return inner_->Rate(); }
  int64_t Length() const override { return inner_->Length(); }

 private:
  std::unique_ptr<SampleSource> inner_;
  size_t* count_;  // outlives the source, which the decoder destroys
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

}  // namespace

int RunEncode(const Options& o) {
  if (o.args.empty()) throw Error("encode needs a MESSAGE of 9 characters (0-9, a-v)");
  if (o.args.size() > 1) throw Error("encode takes one MESSAGE; unexpected '" + o.args[1] + "'");
  const std::string& msg = o.args[0];
  CheckMessage(msg);
  ModeChoice choice = o.mode;
  if (!o.mode_given) choice.mode = QUORLAX_MODE_AUDIBLE;
  const int rate = o.rate > 0 ? o.rate : 44100;
  if (o.melody_given && o.synth) throw Error("choose either --melody or --synth, not both");
  if (o.volume_given && !o.synth) throw Error("--volume sets the gain of the --synth melody; add --synth");
  if (o.melody_given) {
    if (o.melody.empty()) throw Error("--melody needs at least one note (0-9, a-v)");
    CheckAlphabet(o.melody, "melody");
  }
  const int type = o.synth ? 1 : (o.melody_given ? 2 : 0);
  const std::string output = o.output.empty() ? msg + ".wav" : o.output;
  if (output == "-" && isatty(STDOUT_FILENO))
    throw Error("refusing to write raw audio to a terminal; pipe it or use -o FILE");
  const std::vector<float> audio =
      EncodeMessage(msg, choice, rate, type, o.melody, o.volume_given ? &o.volume_db : nullptr);
  if (output == "-") {
    WriteRaw(stdout, audio);
  } else {
    WriteSoundFile(output, audio, rate, o.float_wav);
    if (isatty(STDERR_FILENO))
      std::fprintf(stderr, "quorlax: wrote %s (%.2f s, %s mode, %d Hz)\n", output.c_str(),
                   static_cast<double>(audio.size()) / rate, ModeName(choice.mode), rate);
  }
  return kExitFound;
}

int RunDecode(const Options& o) {
  if (o.args.size() > 1) throw Error("decode takes one FILE; unexpected '" + o.args[1] + "'");
  const std::string path = o.args.empty() ? "-" : o.args[0];
  if (path == "-" && isatty(STDIN_FILENO)) throw Error("no input: name a FILE or pipe audio into standard input");
  const ModeChoice choice = DecodeMode(o);
  std::unique_ptr<std::FILE, FileCloser> raw_file;
  std::unique_ptr<SampleSource> source;
  if (o.raw) {
    if (o.rate <= 0) throw Error("--raw needs the sample rate: -r RATE");
    if (o.channel != 1) throw Error("--raw input is mono; --channel does not apply");
    std::FILE* stream = stdin;
    if (path != "-") {
      raw_file.reset(std::fopen(path.c_str(), "rb"));
      if (!raw_file) throw Error("cannot read '" + path + "': " + std::strerror(errno));
      stream = raw_file.get();
    }
    source = OpenRawStream(stream, o.rate);
  } else {
    if (o.rate > 0) throw Error("-r applies to --raw input only; a sound file names its own rate");
    source = OpenSoundFile(path, o.channel);
  }
  size_t count = 0;
  auto counting = std::make_unique<CountingSource>(std::move(source), &count);
  Progress progress(!o.quiet && path != "-" && !o.raw && isatty(STDERR_FILENO));
  const int passed = DecodeAndPrint(std::move(counting), choice, o.json, o.all, &progress);
  if (count == 0) throw Error((path == "-" ? std::string("standard input") : "'" + path + "'") + " holds no audio");
  return passed > 0 ? kExitFound : kExitNothing;
}

int RunListen(const Options& o) {
  if (!o.args.empty()) throw Error("listen reads standard input; unexpected '" + o.args[0] + "'");
  const int rate = o.rate > 0 ? o.rate : 48000;
  if (isatty(STDIN_FILENO)) throw Error("listen reads raw float32 samples: pipe them into standard input");
  const int passed = DecodeAndPrint(OpenRawStream(stdin, rate), DecodeMode(o), o.json, o.all, nullptr);
  return passed > 0 ? kExitFound : kExitNothing;
}

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
    DecodeSource(OpenSoundFile(name, 1), all, [&](const Message& m) { got.push_back(m); }, nullptr);
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

}  // namespace cli
