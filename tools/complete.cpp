// quorlax --complete: the program completes its own command line, from the
// same table of commands and options that parses it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "options.h"

namespace cli {
namespace {

// Asks the shell for file names instead of words.
const char kFiles[] = ":files";

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// What a value of `option` may be; kFiles for a file name; empty when anything goes.
std::vector<std::string> ValuesOf(const std::string& option) {
  if (option == "-m") {
    std::vector<std::string> modes;
    for (int m = QUORLAX_MODE_AUDIBLE; m <= QUORLAX_MODE_CUSTOM; ++m) modes.push_back(ModeName(m));
    return modes;
  }
  if (option == "--format") return ListenFormats();
  if (option == "--channel") return {"all"};
  if (option == "-o" || option == "--out" || option == "--save") return {kFiles};
  return {};
}

// Commands whose arguments are files (and, for scan, folders).
bool TakesFiles(const std::string& command) { return command == "decode" || command == "inspect" || command == "scan"; }

void Offer(const std::vector<std::string>& words, const std::string& typed) {
  for (const std::string& w : words)
    if (w == kFiles || StartsWith(w, typed)) std::printf("%s\n", w.c_str());
}

}  // namespace

int Complete(int argc, char** argv, const std::vector<const Command*>& commands) {
  if (argc < 1) return kExitUsage;
  char* end = nullptr;
  const long at = std::strtol(argv[0], &end, 10);
  if (*end != '\0' || at < 1) return kExitUsage;
  std::vector<std::string> words(argv + 1, argv + argc);
  words.resize(std::max<size_t>(words.size(), static_cast<size_t>(at) + 1));
  const std::string typed = words[static_cast<size_t>(at)];

  std::vector<std::string> names;
  for (const Command* c : commands) names.push_back(c->name);
  if (at == 1) {
    names.insert(names.end(), {"help", "-h", "--help", "-V", "--version"});
    Offer(names, typed);
    return kExitFound;
  }
  if (words[1] == "help") {
    if (at == 2) Offer(names, typed);
    return kExitFound;
  }
  const Command* command = nullptr;
  for (const Command* c : commands)
    if (words[1] == c->name) command = c;
  if (command == nullptr) return kExitFound;

  const std::vector<const OptionSpec*> options = OptionsOf(*command);
  const std::string& previous = words[static_cast<size_t>(at) - 1];
  for (const OptionSpec* o : options)
    if (o->takes_value && (previous == o->name || (o->long_name != nullptr && previous == o->long_name))) {
      Offer(ValuesOf(o->name), typed);
      return kExitFound;
    }
  if (StartsWith(typed, "-")) {
    std::vector<std::string> spellings = {"-h", "--help"};
    for (const OptionSpec* o : options) {
      spellings.push_back(o->name);
      if (o->long_name != nullptr) spellings.push_back(o->long_name);
    }
    Offer(spellings, typed);
  } else if (TakesFiles(command->name)) {
    Offer({kFiles}, typed);
  }
  return kExitFound;
}

}  // namespace cli
