// quorlax listen: messages heard on a sound device, or in a stream on
// standard input, printed as soon as each is complete.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "decode_stream.h"
#include "device_commands.h"
#include "io/live_input.h"
#include "io/raw_samples.h"
#include "io/resample.h"
#include "io/stop.h"
#include "quorlax_device.h"
#include "report.h"

namespace cli {
namespace {

namespace qd = quorlax_device;

const char kListenHelp[] =
    "Usage: quorlax listen [-m MODE] [--device NAME|INDEX] [-r RATE] [--format f32|s16|wav]\n"
    "                      [--json] [--failed] [--count N] [--seconds S] [--save FILE] [-q] [-v]\n"
    "\n"
    "Prints each message as soon as it is complete, in decode's formats, until Ctrl-C, SIGTERM,\n"
    "--seconds S or the end of its input. It captures from the default input device when stdin\n"
    "is a terminal or --device is given; otherwise it reads stdin: a WAV stream (as arecord\n"
    "writes to a pipe), or raw little-endian mono samples, float32 unless --format s16:\n"
    "  arecord -f S16_LE -c 1 -r 48000 | quorlax listen --format s16\n"
    "\n"
    "  -m, --mode MODE          as for decode (default all); --base and --separation for custom\n"
    "  -d, --device NAME|INDEX  capture from this device (--device default names the default)\n"
    "  -r, --rate RATE          rate of raw input (default 48000); for a device, a rate to ask\n"
    "                           for instead of its own. A WAV stream names its own rate and\n"
    "                           format: -r and --format may repeat them, not differ\n"
    "  --format f32|s16|wav     what stdin holds (a WAV stream is recognised by itself)\n"
    "  --json                   one JSON object per message\n"
    "  --failed                 also print messages that failed their check\n"
    "  --count N                stop once N messages have passed their check\n"
    "  --seconds S              stop after S seconds of input\n"
    "  --save FILE              also record what the device heard: .wav or .aiff (float32),\n"
    "                           .flac (16-bit) or .ogg, as the name says\n"
    "  -q, --quiet              no status line\n"
    "  -v, --verbose            say when each message was printed\n"
    "\n"
    "A rate at which no band of the mode fits is refused, naming the rates that work.\n"
    "Dropped input (overflow) is reported on stderr with the samples lost, and listening goes on.\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage errors, a device fault or\n"
    "output that could not be written.\n";

// --format: what standard input holds ("" when not given).
std::string StdinFormat(const Options& o) {
  if (!o.Has("--format")) return "";
  const std::string& format = o.given.at("--format");
  const std::vector<std::string>& formats = ListenFormats();
  if (std::find(formats.begin(), formats.end(), format) == formats.end())
    throw Error("--format is f32, s16 or wav, not '" + format + "'");
  return format;
}

// --save: where to record a device ("" when not given).
std::string SavePath(const Options& o) {
  if (!o.Has("--save")) return "";
  const std::string& path = o.given.at("--save");
  if (path.empty()) throw Error("--save needs a file name");
  SoundFormatFor(path, kDefaultRate, true);  // a name that says no format is refused before listening
  return path;
}

// --count: stop once this many messages passed (0: no limit).
int MessageCount(const Options& o) {
  return o.Has("--count") ? ParseInt("--count", o.given.at("--count"), 1, 1000000) : 0;
}

// --seconds: how much input to hear (0: until stopped).
double InputSeconds(const Options& o) {
  if (!o.Has("--seconds")) return 0.0;
  const double seconds = ParseFloat("--seconds", o.given.at("--seconds"));
  // Bounded so that seconds times any rate still counts in 64-bit samples.
  if (seconds <= 0.0 || seconds > 1e9) throw Error("--seconds needs a duration above 0 and at most 1e9");
  return seconds;
}

int64_t SamplesIn(double seconds, int rate) { return seconds > 0.0 ? static_cast<int64_t>(seconds * rate) : -1; }

// Listening at a rate where no band fits would hear nothing, for ever.
void CheckListenRate(const Options& o, int rate) {
  const std::string no_band = NoBandFitsAt(o.ModeOr(QUORLAX_MODE_ALL), rate);
  if (!no_band.empty()) throw Error("cannot listen: " + no_band);
}

// Decodes until the source ends (or `count` messages passed), printing each
// message as it completes.
int Decode(LiveSource* live, const Options& o, int count) {
  const ModeChoice choice = o.ModeOr(QUORLAX_MODE_ALL);
  const int rate = DecodingRateFor(choice, live->Rate());
  std::unique_ptr<SampleSource> input = Resample(Borrowed(live), rate);
  int passed = 0;
  DecodeStream stream(choice, rate, [&](const Message& m) {
    if (m.ok) ++passed;
    PrintLine(FormatMessage(m, o.json));
    if (o.verbose) {
      // In the input's own samples, so they compare with --save.
      const double scale = static_cast<double>(live->Rate()) / rate;
      char line[200];
      std::snprintf(line, sizeof line, "printed %s when %.0f samples had reached the input (its end: sample %.0f)",
                    m.text.c_str(), live->ReachedInput(), static_cast<double>(m.end) * scale);
      Say(line);
    }
  }, o.failed);
  const auto counted = [&] { return count > 0 && passed >= count; };
  std::vector<float> buf(4096);
  while (!counted()) {
    const size_t n = input->Read(buf.data(), buf.size());
    if (n == 0) break;
    stream.Push(buf.data(), n);
  }
  if (!counted()) stream.Finish();
  return passed > 0 ? kExitFound : kExitNothing;
}

// -r and --format given with a WAV stream must say what its header says.
void CheckWavAgrees(const Options& o, const std::string& format, const WavStdinSource& wav) {
  if (o.rate > 0 && o.rate != wav.Rate())
    throw Error("-r " + std::to_string(o.rate) + " disagrees with the WAV stream on standard input, which runs at " +
                std::to_string(wav.Rate()) + " Hz (a WAV stream names its own rate: leave -r out)");
  const int subtype = wav.Format() & SF_FORMAT_SUBMASK;
  const bool agrees = format.empty() || format == "wav" || (format == "s16" && subtype == SF_FORMAT_PCM_16) ||
                      (format == "f32" && subtype == SF_FORMAT_FLOAT);
  if (!agrees)
    throw Error("--format " + format + " disagrees with the WAV stream on standard input, which holds " +
                (subtype == SF_FORMAT_PCM_16 ? std::string("16-bit") : subtype == SF_FORMAT_FLOAT ? "float32" : "other") +
                " samples (a WAV stream names its own format: leave --format out)");
}

int ListenToDevice(const Options& o, const std::string& device_name, const std::string& save, int count,
                   double seconds) {
  if (o.rate > 0) CheckListenRate(o, o.rate);
  QuietSoundLibraries();
  std::unique_ptr<Watchdog> watch(new Watchdog(20.0, "the sound system"));
  std::unique_ptr<qd::Session> session(new qd::Session);
  const qd::DeviceInfo& device = session->Find(device_name, true);
  std::unique_ptr<qd::Capture> capture(new qd::Capture(*session, device, o.rate));
  watch.reset();
  CheckListenRate(o, capture->Rate());
  std::unique_ptr<Recorder> recorder;
  if (!save.empty()) recorder.reset(new Recorder(save, capture->Rate()));
  if (o.verbose) {
    char line[200];
    std::snprintf(line, sizeof line, "opened '%s' (%s) at %d Hz, input latency %.1f ms", device.name.c_str(),
                  device.host.c_str(), capture->Rate(), capture->InputLatency() * 1000.0);
    Say(line);
  }
  int status;
  {
    std::unique_ptr<LiveSource> source =
        OpenCapture(capture.get(), SamplesIn(seconds, capture->Rate()), recorder.get(), o.quiet);
    status = Decode(source.get(), o, count);
  }
  Watchdog closing(10.0, "the sound system");
  capture.reset();
  session.reset();
  return status;
}

int ListenToStdin(const Options& o, const std::string& format, int count, double seconds) {
  // Look at the first bytes: a WAV stream names itself.
  std::string head;
  while (head.size() < 4) {
    char buf[4];
    const size_t n = ReadStdin(buf, 4 - head.size());
    if (n == 0) break;
    head.append(buf, n);
  }
  if (head.empty() && !g_stop.load()) throw Error(std::string("standard input holds no audio; ") + kNameADevice);
  // A WAV stream names itself (arecord writes one to a pipe); -r and --format
  // may describe it as well, as long as they agree with it.
  const bool wav_header = head.compare(0, 4, "RIFF") == 0 || head.compare(0, 4, "RF64") == 0;
  std::unique_ptr<LiveSource> source;
  if (wav_header || format == "wav") {
    std::unique_ptr<WavStdinSource> wav(new WavStdinSource(head, seconds));
    CheckWavAgrees(o, format, *wav);
    source = std::move(wav);
  } else {
    const int rate = o.rate > 0 ? o.rate : kDefaultRate;
    source = OpenRawSamples(ReadStdin, rate, format == "s16" ? RawFormat::kInt16 : RawFormat::kFloat32,
                            "standard input", head, SamplesIn(seconds, rate));
  }
  CheckListenRate(o, source->Rate());
  return Decode(source.get(), o, count);
}

int RunListen(const Options& o) {
  const std::string device_name = NamedDevice(o);
  const std::string format = StdinFormat(o);
  const std::string save = SavePath(o);
  const int count = MessageCount(o);
  const double seconds = InputSeconds(o);
  if (!o.args.empty()) throw Error("listen takes no arguments; unexpected '" + o.args[0] + "'");
  const bool from_device = o.Has("-d") || isatty(STDIN_FILENO);
  CatchStopSignals();
  if (from_device) {
    if (!format.empty()) throw Error("--format describes standard input; it does not apply to a device");
    return ListenToDevice(o, device_name, save, count, seconds);
  }
  if (!save.empty()) throw Error("--save records a device; standard input is already a recording");
  return ListenToStdin(o, format, count, seconds);
}

}  // namespace

const std::vector<std::string>& ListenFormats() {
  static const std::vector<std::string> formats = {"f32", "s16", "wav"};
  return formats;
}

const Command kListenCommand = {
    "listen",
    "print messages heard on a sound device or stdin as they arrive",
    kListenHelp,
    {"-m", "-r", "--base", "--separation", "--json", "--failed", "-q", "-v"},
    [](const Options& o) { return RunDeviceCommand(RunListen, o); },
    {{"-d", "--device", true},
     {"--format", nullptr, true},
     {"--save", nullptr, true},
     {"--seconds", nullptr, true},
     {"--count", nullptr, true}}};

}  // namespace cli
