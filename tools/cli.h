// Shared pieces of the quorlax command-line program.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// Exit statuses: a message passed, none did, or the command could not run.
constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 2;

// The rate encode, play and listen use unless -r says otherwise: every mode
// works at it, and it is what sound devices run at natively.
constexpr int kDefaultRate = 48000;

// Thrown for anything the user must fix; main prints it and exits 2.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what) : std::runtime_error(what) {}
};

// A mode as the user named it, with the custom grid it may need.
struct ModeChoice {
  int mode = 0;              // QUORLAX_MODE_*
  float base_hz = 12000.0f;  // custom only
  int separation = 1;        // custom only
};

// A mode by name or by its number (2..6); throws Error for anything else.
int ParseModeName(const std::string& name);
const char* ModeName(int mode);
// Name of a band reported by QUORLAX_GetDecodedMode.
std::string BandName(int band);

// Configures `handle` for `choice` at `rate` (custom grid first); library code.
int ConfigureHandle(void* handle, const ModeChoice& choice, int rate, int buffer_size);

// Explains a failed QUORLAX_Configure in one line.
std::string ConfigureErrorText(int code, const ModeChoice& choice, int rate);

}  // namespace cli
