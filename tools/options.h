// Command-line conventions shared by every quorlax command: one spelling per
// option, `quorlax COMMAND -h` for a command's own help, and the dispatch.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {

// What the parser found. Options of the shared catalogue that most commands
// use are converted here; every option given is also kept in `given`, keyed by
// its short spelling (or long, when it has none), so a command can read its own.
struct Options {
  std::vector<std::string> args;  // positional arguments after the command
  std::map<std::string, std::string> given;
  ModeChoice mode;
  bool mode_given = false;
  int rate = 0;  // 0: the command's default
  std::string output;
  std::string melody;
  bool melody_given = false;
  bool synth = false;
  float volume_db = 0.0f;
  bool volume_given = false;
  bool float_wav = false;
  bool raw = false;
  bool json = false;
  bool quiet = false;
  bool failed = false;   // also show messages that failed their check
  bool verbose = false;  // report front doors and failed readings as they happen
  int channel = 1;       // 1-based; kAllChannels for every channel
  bool Has(const std::string& name) const { return given.count(name) != 0; }
  // The mode given, or `fallback` (QUORLAX_MODE_*) with the custom grid given.
  ModeChoice ModeOr(int fallback) const {
    ModeChoice choice = mode;
    if (!mode_given) choice.mode = fallback;
    return choice;
  }
};

constexpr int kAllChannels = 0;

// One option of the catalogue, as every command spells it.
struct OptionSpec {
  const char* name;       // "-m", or the long name when there is no short one
  const char* long_name;  // "--mode", or nullptr
  bool takes_value;
};

// Where a command's help lists the modes: the lines come from the library.
#define QUORLAX_HELP_MODES "@MODES@"

// A command: its name, a line for `quorlax -h`, its own help text (printed by
// `quorlax NAME -h`), the catalogue names it accepts and what runs it.
struct Command {
  const char* name;
  const char* summary;
  const char* help;
  std::vector<std::string> options;
  int (*run)(const Options&);
  std::vector<OptionSpec> own_options = {};  // options no other command has
};

// `help` with the modes (QUORLAX_HELP_MODES) as the library describes them.
std::string ExpandHelp(const char* help);

// Parses the arguments after the command name. Throws Error.
Options ParseOptions(const Command& command, int argc, char** argv);

// Every option `command` accepts, its own and the catalogue's.
std::vector<const OptionSpec*> OptionsOf(const Command& command);

// `quorlax --complete CWORD WORD...`: prints the words that complete
// WORD[CWORD] of the command line WORD... (WORD 0 the program), one a line;
// a line ":files" asks the shell for file names. The bash and zsh
// completion scripts hand the line over and show what comes back.
int Complete(int argc, char** argv, const std::vector<const Command*>& commands);

// Whole numbers and finite numbers for option values; throw Error naming `opt`.
int ParseInt(const std::string& opt, const std::string& value, long lo, long hi);
float ParseFloat(const std::string& opt, const std::string& value);

// The program: `quorlax -h`, `-V`, `COMMAND -h` and dispatch; returns the exit status.
int Main(int argc, char** argv, const std::vector<const Command*>& commands);

}  // namespace cli
