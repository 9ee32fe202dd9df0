#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZunCoreLib_api.h"

namespace cli {
namespace {

// Options that more than one command takes, spelled once.
const OptionSpec kCatalogue[] = {
    {"-m", "--mode", true},       {"-r", "--rate", true},       {"-o", "--output", true},
    {"--melody", nullptr, true},  {"--synth", nullptr, false},  {"--volume", nullptr, true},
    {"--float", nullptr, false},  {"--base", nullptr, true},    {"--separation", nullptr, true},
    {"--raw", nullptr, false},    {"--json", nullptr, false},   {"-q", "--quiet", false},
    {"--failed", nullptr, false}, {"-v", "--verbose", false},   {"--channel", nullptr, true},
};

// Spellings that used to exist or that people try, with what to use instead.
const char* const kRenamed[][2] = {{"--all", "--failed"}};

const OptionSpec* FindOption(const Command& command, const std::string& arg, bool* elsewhere) {
  *elsewhere = false;
  for (const OptionSpec& option : command.own_options)
    if (arg == option.name || (option.long_name != nullptr && arg == option.long_name)) return &option;
  for (const OptionSpec& option : kCatalogue) {
    if (arg != option.name && (option.long_name == nullptr || arg != option.long_name)) continue;
    for (const std::string& allowed : command.options)
      if (allowed == option.name) return &option;
    *elsewhere = true;
    return nullptr;
  }
  return nullptr;
}

void Apply(const std::string& name, const std::string& value, Options* o) {
  if (name == "-m") {
    o->mode.mode = ParseModeName(value);
    o->mode_given = true;
  } else if (name == "-r") {
    o->rate = ParseInt(name, value, 1000, 1000000);
  } else if (name == "-o") {
    if (value.empty()) throw Error("-o needs a file name, or '-' for stdout");
    o->output = value;
  } else if (name == "--melody") {
    o->melody = value;
    o->melody_given = true;
  } else if (name == "--synth") {
    o->synth = true;
  } else if (name == "--volume") {
    o->volume_db = ParseFloat(name, value);
    o->volume_given = true;
  } else if (name == "--float") {
    o->float_wav = true;
  } else if (name == "--base") {
    o->mode.base_hz = ParseFloat(name, value);
    if (o->mode.base_hz <= 0.0f) throw Error("--base needs a frequency above 0 Hz");
  } else if (name == "--separation") {
    o->mode.separation = ParseInt(name, value, 0, 1000);
  } else if (name == "--raw") {
    o->raw = true;
  } else if (name == "--json") {
    o->json = true;
  } else if (name == "-q") {
    o->quiet = true;
  } else if (name == "--failed") {
    o->failed = true;
  } else if (name == "-v") {
    o->verbose = true;
  } else if (name == "--channel") {
    o->channel = value == "all" ? kAllChannels : ParseInt(name, value, 1, 1024);
  }
}

void PrintUsage(std::FILE* out, const std::vector<const Command*>& commands) {
  std::fputs("Usage: quorlax COMMAND [ARGUMENTS] [OPTIONS]\n"
             "Data over sound: nine-character messages sent and received as chord sequences.\n\nCommands:\n",
             out);
  for (const Command* c : commands) std::fprintf(out, "  %-8s %s\n", c->name, c->summary);
  std::fputs(
      "\n"
      "quorlax COMMAND -h prints the help of one command; quorlax -V the versions.\n"
      "Messages are 9 characters from 0-9 and a-v. Modes (-m): audible (2), nonaudible (3),\n"
      "compression (4), all (5) and custom (6).\n"
      "Exit status: 0 a message passed its check (or the command succeeded), 1 none did,\n"
      "2 usage or input/output errors.\n",
      out);
}

}  // namespace

std::vector<const OptionSpec*> OptionsOf(const Command& command) {
  std::vector<const OptionSpec*> out;
  for (const OptionSpec& option : command.own_options) out.push_back(&option);
  for (const OptionSpec& option : kCatalogue)
    for (const std::string& allowed : command.options)
      if (allowed == option.name) out.push_back(&option);
  return out;
}

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

Options ParseOptions(const Command& command, int argc, char** argv) {
  Options o;
  bool positional_only = false;
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
    bool elsewhere = false;
    const OptionSpec* option = FindOption(command, arg, &elsewhere);
    if (option == nullptr) {
      if (elsewhere) throw Error("option " + arg + " does not apply to " + command.name);
      for (const auto& renamed : kRenamed)
        if (arg == renamed[0])
          throw Error("unknown option '" + arg + "': it is now " + renamed[1] + " (see quorlax " + command.name +
                      " -h)");
      throw Error("unknown option '" + arg + "' (see quorlax " + command.name + " -h)");
    }
    if (option->takes_value && !has_value) {
      if (i + 1 >= argc) throw Error("option " + arg + " needs a value");
      value = argv[++i];
    } else if (!option->takes_value && has_value) {
      throw Error("option " + arg + " takes no value");
    }
    o.given[option->name] = value;
    Apply(option->name, value, &o);
  }
  const bool base = o.Has("--base"), separation = o.Has("--separation");
  if ((base || separation) && o.mode.mode != QUORLAX_MODE_CUSTOM)
    throw Error(std::string(base ? "--base" : "--separation") + " applies to -m custom only");
  return o;
}

int Main(int argc, char** argv, const std::vector<const Command*>& commands) {
  if (argc < 2) {
    PrintUsage(stderr, commands);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || (name == "help" && argc == 2)) {
    PrintUsage(stdout, commands);
    return kExitFound;
  }
  if (name == "--version" || name == "-V") {
    std::printf("quorlax %s\n%s\n", QUORLAX_CLI_VERSION, QUORLAX_GetVersion());
    return kExitFound;
  }
  if (name == "--complete") return Complete(argc - 2, argv + 2, commands);
  const bool help_for = name == "help";
  const std::string wanted = help_for ? argv[2] : name;
  const Command* command = nullptr;
  for (const Command* c : commands)
    if (wanted == c->name) command = c;
  if (command == nullptr) {
    std::string names;
    for (size_t i = 0; i < commands.size(); ++i)
      names += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + std::string(commands[i]->name);
    throw Error("unknown command '" + wanted + "' (" + names + "; see quorlax -h)");
  }
  bool help = help_for;
  for (int i = 2; i < argc && !help; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    help = std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
  }
  if (help) {
    std::fputs(ExpandHelp(command->help).c_str(), stdout);
    return kExitFound;
  }
  return command->run(ParseOptions(*command, argc - 2, argv + 2));
}

std::string ExpandHelp(const char* help) {
  std::string text = help;
  const std::string marker = QUORLAX_HELP_MODES;
  const size_t at = text.find(marker);
  if (at == std::string::npos) return text;
  // Ranges at 44100 Hz, the rate the protocol's grids are laid out for.
  const float rate = static_cast<float>(kSynthRate);
  const float base = QUORLAX_GetDefaultCustomBase();
  const int separation = QUORLAX_GetDefaultCustomSeparation();
  std::string lines;
  int modes[16];
  const int count = std::min(QUORLAX_GetModes(modes, 16), 16);
  for (int i = 0; i < count; ++i) {
    const int mode = modes[i];
    QUORLAX_ModeInfo info;
    info.size = sizeof info;
    if (QUORLAX_GetModeInfo(mode, rate, base, separation, &info) != QUORLAX_OK) continue;
    char line[320];
    const char* lead = i == 0 ? "  -m, --mode MODE      " : "                       ";
    if (mode == QUORLAX_MODE_CUSTOM) {
      std::snprintf(line, sizeof line,
                    "%s%s (%d): nine tones from --base HZ (default %g) up,\n"
                    "                       (--separation N + 2) * 3 bins apart (default %d); use the same\n"
                    "                       values to send and to receive\n",
                    lead, info.name, mode, base, separation);
    } else if (info.num_hears > 1) {
      std::string heard;
      for (int b = 0; b < info.num_hears; ++b)
        heard += std::string(b == 0 ? "" : (b + 1 == info.num_hears ? " and " : ", ")) + ModeName(info.hears[b]);
      std::snprintf(line, sizeof line, "%s%s (%d): hears %s; sends %s\n", lead, info.name, mode, heard.c_str(),
                    ModeName(info.sends));
    } else {
      std::snprintf(line, sizeof line, "%s%s (%d): tones %.1f to %.1f kHz\n", lead, info.name, mode,
                    info.low_hz / 1000.0, info.high_hz / 1000.0);
    }
    lines += line;
  }
  if (!lines.empty()) lines.pop_back();  // the help's own newline follows
  return text.replace(at, marker.size(), lines);
}

}  // namespace cli
