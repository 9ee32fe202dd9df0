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

// Length of the UTF-8 sequence at s[i], or 0 when it is not a valid one.
size_t Utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t n = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return 0;
  return n;
}

// The character as the user typed it; bytes that are not text as \xNN.
std::string Shown(const std::string& s, size_t i, size_t n) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (n > 1 || (n == 1 && c >= 0x20 && c < 0x7f)) return s.substr(i, n);
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", c);
  return buf;
}

// Positions count characters from 1, however many bytes each takes.
void CheckAlphabet(const std::string& s, const char* what) {
  size_t position = 1;
  for (size_t i = 0; i < s.size(); ++position) {
    const size_t n = Utf8Length(s, i);
    if (n != 1 || !InAlphabet(s[i]))
      throw Error("invalid character '" + Shown(s, i, n) + "' at position " + std::to_string(position) + " in " +
                  what + " (allowed: 0-9, a-v)");
    i += n;
  }
}

}  // namespace

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

namespace {

// One transmission at a rate the library synthesises at.
std::vector<float> Synthesise(const std::string& msg, const ModeChoice& choice, int rate, int type,
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
      QUORLAX_ModeInfo info;
      info.size = sizeof info;
      std::string most;
      if (QUORLAX_GetModeInfo(choice.mode, static_cast<float>(rate), choice.base_hz, choice.separation, &info) ==
          QUORLAX_OK)
        most = " (at most " + std::to_string(info.max_encoded_samples / info.token_samples) + " at " +
               std::to_string(rate) + " Hz)";
      throw Error("melody of " + std::to_string(melody.size()) + " notes is too long" + most);
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

}  // namespace

std::vector<float> EncodeMessage(const std::string& msg, const ModeChoice& choice, int rate, int type,
                                 const std::string& melody, const float* volume_db) {
  if (!RateWorks(choice, rate)) throw Error(RateRefusal(choice, rate));
  if (IsLibraryRate(rate)) return Synthesise(msg, choice, rate, type, melody, volume_db);
  // Other rates: synthesised at the protocol's own rate and converted.
  return ResampleAll(Synthesise(msg, choice, kSynthRate, type, melody, volume_db), kSynthRate, rate);
}

namespace {

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

ModeChoice DecodeMode(const Options& o) {
  if (o.mode_given) return o.mode;
  ModeChoice all;
  all.mode = QUORLAX_MODE_ALL;
  return all;
}

// What decode and listen print: messages on stdout, -v reports on stderr.
class Printer {
 public:
  Printer(const Options& o, Progress* progress) : o_(o), progress_(progress) {}

  // `tag`: the 1-based channel named in each line, 0 for none.
  ChannelSink For(int channel, int tag) {
    DecodeStream::DoorSink doors = nullptr;
    if (o_.verbose)
      doors = [this, tag](int band, double t) {
        Note("front door at " + Seconds(t) + " in the " + BandName(band) + " band" + OnChannel(tag));
      };
    return {channel, [this, tag](const Message& m) { Print(m, tag); }, o_.failed || o_.verbose, doors};
  }
  int passed() const { return passed_; }
  int heard() const { return heard_; }

 private:
  void Print(Message m, int tag) {
    ++heard_;
    if (m.ok) ++passed_;
    m.channel = tag;
    if (!m.ok && !o_.failed) {
      if (o_.verbose) Note("reading at " + Seconds(m.time_s) + " failed its check: " + m.text + " in the " +
                           BandName(m.band) + " band" + OnChannel(tag));
      return;
    }
    if (progress_ != nullptr) progress_->Clear();
    PrintLine(FormatMessage(m, o_.json));
  }
  void Note(const std::string& line) {
    if (progress_ != nullptr) progress_->Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "quorlax: %s\n", line.c_str());
  }
  static std::string Seconds(double t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", t);
    return buf;
  }
  static std::string OnChannel(int tag) { return tag > 0 ? " on channel " + std::to_string(tag) : ""; }

  const Options& o_;
  Progress* progress_;
  int passed_ = 0;
  int heard_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

// Why nothing was heard, when a cause is known; empty otherwise.
std::string Hint(const Options& o, const ModeChoice& choice, int file_rate, const std::string& name,
                 const SampleSource* file, const std::vector<int>& others_heard) {
  const std::string no_band = NoBandFitsAt(choice, file_rate);
  if (!no_band.empty()) return no_band;
  for (size_t c = 0; c < others_heard.size(); ++c)
    if (others_heard[c] > 0)
      return "nothing heard on channel " + std::to_string(o.channel) + ", but channel " + std::to_string(c + 1) +
             " holds a transmission: try --channel " + std::to_string(c + 1);
  const std::string damage = file != nullptr ? file->Damage() : "";
  return damage.empty() ? "" : name + " " + damage;
}

int RunEncode(const Options& o) {
  if (o.args.empty()) throw Error("encode needs a MESSAGE of 9 characters (0-9, a-v)");
  if (o.args.size() > 1) throw Error("encode takes one MESSAGE; unexpected '" + o.args[1] + "'");
  const std::string& msg = o.args[0];
  CheckMessage(msg);
  ModeChoice choice = o.mode;
  if (!o.mode_given) choice.mode = QUORLAX_MODE_AUDIBLE;
  const int rate = o.rate > 0 ? o.rate : kDefaultRate;
  if (o.melody_given && o.synth) throw Error("choose either --melody or --synth, not both");
  if (o.volume_given && !o.synth) throw Error("--volume sets the gain of the --synth melody; add --synth");
  if (o.volume_given && !(o.volume_db >= QUORLAX_SYNTH_VOLUME_MIN_DB && o.volume_db <= QUORLAX_SYNTH_VOLUME_MAX_DB)) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g dB", static_cast<double>(QUORLAX_SYNTH_VOLUME_MIN_DB),
                  static_cast<double>(QUORLAX_SYNTH_VOLUME_MAX_DB));
    throw Error("--volume needs a gain from " + std::string(range) + ", not '" + o.given.at("--volume") + "'");
  }
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
  const std::string name = path == "-" ? std::string("standard input") : "'" + path + "'";
  if (path == "-" && isatty(STDIN_FILENO)) throw Error("no input: name a FILE or pipe audio into standard input");
  const ModeChoice choice = DecodeMode(o);
  std::unique_ptr<std::FILE, FileCloser> raw_file;
  std::unique_ptr<SampleSource> source;
  const SampleSource* file = nullptr;
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
    source = OpenSoundFile(path);
    file = source.get();
  }
  const int channels = source->Channels();
  if (o.channel > channels)
    throw Error(name + " has " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                "; channel " + std::to_string(o.channel) + " does not exist");
  const int file_rate = source->Rate();
  std::unique_ptr<SampleSource> input = Resample(std::move(source), DecodingRateFor(choice, file_rate));

  Progress progress(!o.quiet && file != nullptr && input->Length() > 0 && isatty(STDERR_FILENO));
  std::function<void(double)> report;
  if (progress.On()) report = [&progress](double f) { progress.Update(f); };
  Printer printer(o, &progress);
  std::vector<ChannelSink> sinks;
  if (o.channel == kAllChannels) {
    for (int c = 0; c < channels; ++c) sinks.push_back(printer.For(c, c + 1));
  } else {
    sinks.push_back(printer.For(o.channel - 1, 0));
  }
  // The other channels are heard too when nothing passes on the chosen one:
  // afterwards from a file, alongside from a stream that cannot go back.
  std::vector<int> others_heard(static_cast<size_t>(channels), 0);
  std::vector<ChannelSink> others;
  if (o.channel != kAllChannels)
    for (int c = 0; c < channels; ++c)
      if (c != o.channel - 1)
        others.push_back({c, [&others_heard, c](const Message&) { ++others_heard[c]; }, true});
  const bool alongside = !others.empty() && input->Length() < 0;
  if (alongside) sinks.insert(sinks.end(), others.begin(), others.end());
  const int64_t frames = DecodeChannels(*input, choice, sinks, report);
  progress.Clear();
  if (frames == 0) throw Error(name + " holds no audio");
  if (printer.passed() > 0) return kExitFound;
  if (!alongside && !others.empty() && input->Rewind()) DecodeChannels(*input, choice, others, nullptr);
  const std::string hint = Hint(o, choice, file_rate, name, file, others_heard);
  if (!hint.empty()) std::fprintf(stderr, "quorlax: hint: %s\n", hint.c_str());
  return kExitNothing;
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

const char kEncodeHelp[] =
    "Usage: quorlax encode MESSAGE [-m MODE] [-r RATE] [-o FILE] [--float]\n"
    "                      [--melody NOTES | --synth [--volume DB]]\n"
    "\n"
    "Writes one transmission of MESSAGE: 9 characters from 0-9 and a-v (either case).\n"
    "\n" QUORLAX_HELP_MODES "\n"
    "                       (default audible)\n"
    "  -r, --rate RATE      sample rate in Hz (default 48000)\n"
    "  -o, --output FILE    .wav (16-bit; 32-bit float with --float), .flac, .ogg or .aiff;\n"
    "                       default MESSAGE.wav. '-' writes raw float32 little-endian\n"
    "                       samples to stdout:  quorlax encode hello1234 -o - | aplay -f FLOAT_LE -r 48000\n"
    "  --float              32-bit float samples in .wav and .aiff files\n"
    "  --melody NOTES       blend a melody in, one note per character (0-9, a-v)\n"
    "  --synth              blend a random melody in; --volume DB sets its gain, from -60\n"
    "                       to 0 dB (0, the default: as loud as the tones)\n"
    "\n"
    "A file appears only once it is complete; a failed write leaves nothing behind.\n";

const char kDecodeHelp[] =
    "Usage: quorlax decode [FILE|-] [-m MODE] [--channel N|all] [--failed] [--json] [-v] [-q]\n"
    "       quorlax decode [FILE|-] --raw -r RATE [-m MODE] ...\n"
    "\n"
    "Prints the messages in a sound file, or in standard input ('-' or no FILE) as it arrives.\n"
    "Reads any format libsndfile reads, at any rate (converted when the mode cannot work at it).\n"
    "\n" QUORLAX_HELP_MODES "\n"
    "                       (default all)\n"
    "  --raw -r RATE        the input is raw float32 little-endian mono samples at RATE Hz\n"
    "  --channel N|all      decode channel N (from 1; default 1), or every channel with\n"
    "                       each message tagged with its channel\n"
    "  --failed             also print messages that failed their check\n"
    "  --json               one JSON object per message instead of a tab-separated line\n"
    "  -v, --verbose        report front doors and failed readings on stderr as they happen\n"
    "  -q, --quiet          no progress display\n"
    "\n"
    "Each message prints as\n"
    "  TEXT <tab> ok|check-failed <tab> band=NAME <tab> confidence=X <tab> level=Y dB <tab> at=T s\n"
    "where T estimates when the transmission began (and <tab> channel=N with --channel all).\n"
    "When nothing is heard and a reason is known (a rate too low for every band, the signal\n"
    "on another channel, a file cut short), a hint says so on stderr.\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage or input errors.\n";

const char kDemoHelp[] =
    "Usage: quorlax demo\n"
    "\n"
    "Encodes \"hello1234\", makes a noisy echoing copy and decodes both, writing\n"
    "quorlax-demo.wav and quorlax-demo-noisy.wav in the current directory.\n";

}  // namespace

const Command kEncodeCommand = {
    "encode", "write one transmission of a message to a sound file (or stdout)", kEncodeHelp,
    {"-m", "-r", "-o", "--melody", "--synth", "--volume", "--float", "--base", "--separation"}, RunEncode};
const Command kDecodeCommand = {
    "decode", "print the messages in a sound file or a stream", kDecodeHelp,
    {"-m", "-r", "--raw", "--json", "-q", "--failed", "-v", "--channel", "--base", "--separation"}, RunDecode};
const Command kDemoCommand = {"demo", "encode, add noise and echo, decode", kDemoHelp, {}, RunDemo};

}  // namespace cli
