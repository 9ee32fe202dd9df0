// Shared pieces of the quorlax command-line program.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

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

// A mode as the user named it, with the custom grid it may need (the
// library's default grid unless --base and --separation say otherwise).
struct ModeChoice {
  ModeChoice();
  int mode = 0;         // QUORLAX_MODE_*
  float base_hz;        // custom only
  int separation;       // custom only
};

// A mode by name or by its number (2..6); throws Error for anything else.
int ParseModeName(const std::string& name);
const char* ModeName(int mode);
// Name of the band a mode (QUORLAX_MODE_*, not all) sends in, from the library's table.
std::string BandName(int mode);

// 0 when `choice` works at `rate` itself, else the library's code.
int Supported(const ModeChoice& choice, int rate);

// Configures `handle` for `choice` at `rate` (custom grid first); library code.
int ConfigureHandle(void* handle, const ModeChoice& choice, int rate, int buffer_size);

// Explains a failed QUORLAX_Configure in one line.
std::string ConfigureErrorText(int code, const ModeChoice& choice, int rate);

// Rates the library decodes and synthesises at directly (when the mode fits),
// as it says; any other rate is converted, from kSynthRate when sending.
std::vector<int> LibraryRates();
bool IsLibraryRate(int rate);
constexpr int kSynthRate = 44100;

// The lowest rate at which `choice`'s band (one band; not all) is carried
// whole: its top tone inside the passband of the converter. 0 when the band
// does not fit even at kSynthRate (a custom grid too high).
int LowestRateFor(const ModeChoice& choice);

// Whether `choice` can be sent or heard at `rate`, directly or converted.
bool RateWorks(const ModeChoice& choice, int rate);

// One line saying why `rate` does not work for `choice` and which rates do.
std::string RateRefusal(const ModeChoice& choice, int rate);

// The bands a mode hears, as the library lists them.
std::vector<int> BandsOf(int mode);

// Empty when some band `choice` hears is carried at `rate`; otherwise one line
// naming the rate each band needs.
std::string NoBandFitsAt(const ModeChoice& choice, int rate);

}  // namespace cli
