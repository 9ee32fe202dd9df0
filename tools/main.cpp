// quorlax: send and receive nine-character messages as sound.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "ZunCoreLib_api.h"
#include "cmd_device.h"
#include "commands.h"

namespace {

using cli::Error;

const char kUsage[] =
    "Usage:\n"
    "  quorlax encode MESSAGE [-m MODE] [-r RATE] [-o FILE] [--melody NOTES | --synth [--volume DB]] [--float]\n"
    "  quorlax decode [FILE|-] [-m MODE] [--raw -r RATE] [--json] [-q] [--all] [--channel N]\n"
    "  quorlax play MESSAGE [-m MODE] [-r RATE] [--device NAME|INDEX] [--repeat N] [--gap SECONDS]\n"
    "  quorlax listen [-m MODE] [--device NAME|INDEX] [-r RATE] [--format f32|s16|wav] [--json] [--all]\n"
    "                 [--seconds S] [--save FILE] [-q] [-v]\n"
    "  quorlax devices | --list-devices\n"
    "  quorlax demo\n"
    "  quorlax --version | -V\n"
    "  quorlax --help | -h\n"
    "\n"
    "MESSAGE is 9 characters from 0-9 and a-v (either case).\n"
    "\n"
    "Modes (-m, --mode):\n"
    "  audible       tones about 3.3 to 9.3 kHz (encode's default)\n"
    "  nonaudible    about 17.8 to 19.9 kHz\n"
    "  compression   about 14.0 to 15.5 kHz\n"
    "  all           hears all three bands (decode's and listen's default); sends nonaudible\n"
    "  custom        a grid above --base HZ (default 12000), tones (--separation N + 2) * 3 bins\n"
    "                apart (default separation 1); use the same values to encode and decode\n"
    "\n"
    "encode writes one transmission:\n"
    "  -r, --rate RATE    sample rate in Hz (default 44100; 48000 suits every mode, 22050 audible)\n"
    "  -o, --output FILE  .wav (16-bit, or 32-bit float with --float), .flac, .ogg or .aiff;\n"
    "                     default MESSAGE.wav; '-' writes raw float32 little-endian samples\n"
    "                     to stdout, e.g.  quorlax encode hello1234 -o - | aplay -f FLOAT_LE -r 44100\n"
    "  --melody NOTES     blend a melody in, one note per character (0-9, a-v)\n"
    "  --synth            blend a random melody in; --volume DB sets its gain\n"
    "\n"
    "decode reads any sound file libsndfile reads (FILE, or '-' / nothing for stdin),\n"
    "resampling to 48000 Hz when the mode cannot work at the file's rate:\n"
    "  --raw -r RATE      the input is raw float32 little-endian mono at RATE Hz\n"
    "  --channel N        decode channel N (1-based; default 1)\n"
    "  --json             one JSON object per message instead of a tab-separated line\n"
    "  --all              also show messages that failed their check\n"
    "  -q, --quiet        no progress display\n"
    "Each message prints as\n"
    "  TEXT <tab> ok|check-failed <tab> band=NAME <tab> confidence=X <tab> level=Y dB <tab> at=T s\n"
    "where T estimates when the transmission began.\n"
    "\n"
    "play sends MESSAGE through the default output device (or --device) and returns once it\n"
    "has been played: -r RATE (default the device's 44100 or 48000), --repeat N times, --gap\n"
    "SECONDS of silence between them (default 1). Mode defaults to audible.\n"
    "\n"
    "listen prints each message as soon as it is complete, in decode's formats, until Ctrl-C,\n"
    "SIGTERM, --seconds S or the end of its input. It captures from the default input device\n"
    "when stdin is a terminal or --device is given (--device default names the default),\n"
    "at the device's own rate (-r asks for another). Otherwise it reads stdin: a WAV stream,\n"
    "or raw little-endian mono samples, float32 unless --format s16, at -r RATE (default 48000):\n"
    "  arecord -f S16_LE -c 1 -r 48000 | quorlax listen --format s16\n"
    "  --save FILE     also record what the device heard (WAV, float32)\n"
    "  -q, --quiet     no status line;  -v, --verbose  say when each message was printed\n"
    "Dropped input (overflow) is reported on stderr with the samples lost, and listening goes on.\n"
    "\n"
    "devices lists input and output devices: index, name, channels, default rate; * marks the\n"
    "default. --device takes an index, a name or a unique part of a name or description.\n"
    "\n"
    "demo encodes \"hello1234\", makes a noisy echoing copy and decodes both, writing\n"
    "quorlax-demo.wav and quorlax-demo-noisy.wav in the current directory.\n"
    "\n"
    "Exit status: 0 a message passed its check (or the command succeeded), 1 none did,\n"
    "2 usage or input/output errors, a missing, busy or vanished device.\n";

int ParseInt(const std::string& opt, const std::string& v, long lo, long hi) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || errno != 0 || n < lo || n > hi)
    throw Error(opt + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                ", not '" + v + "'");
  return static_cast<int>(n);
}

float ParseFloat(const std::string& opt, const std::string& v) {
  char* end = nullptr;
  const float f = std::strtof(v.c_str(), &end);
  if (v.empty() || *end != '\0' || !std::isfinite(f)) throw Error(opt + " needs a number, not '" + v + "'");
  return f;
}

cli::Options Parse(const std::string& command, int argc, char** argv) {
  static const std::set<std::string> kAllowed[] = {
      {"-m", "-r", "-o", "--melody", "--synth", "--volume", "--float", "--base", "--separation"},
      {"-m", "-r", "--raw", "--json", "-q", "--all", "--channel", "--base", "--separation"},
      {"-m", "-r", "--json", "--all", "--base", "--separation"},
      {}};
  const int which = command == "encode" ? 0 : command == "decode" ? 1 : command == "listen" ? 2 : 3;
  cli::Options o;
  bool base_given = false, separation_given = false, positional_only = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (positional_only || arg == "-" || arg.empty() || arg[0] != '-') {
      o.args.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positional_only = true;
      continue;
    }
    std::string value;
    bool has_value = false;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      has_value = true;
    }
    if (arg == "--mode") arg = "-m";
    if (arg == "--rate") arg = "-r";
    if (arg == "--output") arg = "-o";
    if (arg == "--quiet") arg = "-q";
    if (!kAllowed[which].count(arg)) {
      bool known = false;
      for (const auto& set : kAllowed) known = known || set.count(arg);
      if (known) throw Error("option " + arg + " does not apply to " + command);
      throw Error("unknown option '" + arg + "' (see quorlax --help)");
    }
    const bool takes_value = arg == "-m" || arg == "-r" || arg == "-o" || arg == "--melody" ||
                             arg == "--volume" || arg == "--channel" || arg == "--base" ||
                             arg == "--separation";
    if (takes_value && !has_value) {
      if (i + 1 >= argc) throw Error("option " + arg + " needs a value");
      value = argv[++i];
    } else if (!takes_value && has_value) {
      throw Error("option " + arg + " takes no value");
    }
    if (arg == "-m") {
      o.mode.mode = cli::ParseModeName(value);
      o.mode_given = true;
    } else if (arg == "-r") {
      o.rate = ParseInt(arg, value, 1000, 1000000);
    } else if (arg == "-o") {
      if (value.empty()) throw Error("-o needs a file name, or '-' for stdout");
      o.output = value;
    } else if (arg == "--melody") {
      o.melody = value;
      o.melody_given = true;
    } else if (arg == "--synth") {
      o.synth = true;
    } else if (arg == "--volume") {
      o.volume_db = ParseFloat(arg, value);
      o.volume_given = true;
    } else if (arg == "--float") {
      o.float_wav = true;
    } else if (arg == "--base") {
      o.mode.base_hz = ParseFloat(arg, value);
      if (o.mode.base_hz <= 0.0f) throw Error("--base needs a frequency above 0 Hz");
      base_given = true;
    } else if (arg == "--separation") {
      o.mode.separation = ParseInt(arg, value, 0, 1000);
      separation_given = true;
    } else if (arg == "--raw") {
      o.raw = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "-q") {
      o.quiet = true;
    } else if (arg == "--all") {
      o.all = true;
    } else if (arg == "--channel") {
      o.channel = ParseInt(arg, value, 1, 1024);
    }
  }
  if ((base_given || separation_given) && o.mode.mode != QUORLAX_MODE_CUSTOM)
    throw Error(std::string(base_given ? "--base" : "--separation") + " applies to -m custom only");
  return o;
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return cli::kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version" || command == "-V") {
    std::printf("quorlax %s\n%s\n", QUORLAX_CLI_VERSION, QUORLAX_GetVersion());
    return 0;
  }
  if (command != "encode" && command != "decode" && command != "demo" && !cli::IsDeviceCommand(command))
    throw Error("unknown command '" + command +
                "' (encode, decode, play, listen, devices or demo; see quorlax --help)");
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (cli::IsDeviceCommand(command)) return cli::RunDeviceCommand(command, argc - 2, argv + 2);
  const cli::Options o = Parse(command, argc - 2, argv + 2);
  if (command == "encode") return cli::RunEncode(o);
  if (command == "decode") return cli::RunDecode(o);
  if (command == "listen") return cli::RunListen(o);
  return cli::RunDemo(o);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Error& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quorlax: %s\n", e.what());
    return cli::kExitUsage;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quorlax: %s\n", e.what());
    return cli::kExitUsage;
  }
}
