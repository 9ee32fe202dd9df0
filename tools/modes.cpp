#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ZunCoreLib_api.h"
#include "cli.h"

namespace cli {

namespace {

std::vector<int> AllModes() {
  int modes[16];
  const int n = std::min(QUORLAX_GetModes(modes, 16), 16);
  return std::vector<int>(modes, modes + std::max(n, 0));
}

}  // namespace

ModeChoice::ModeChoice()
    : base_hz(QUORLAX_GetDefaultCustomBase()), separation(QUORLAX_GetDefaultCustomSeparation()) {}

int ParseModeName(const std::string& name) {
  const int named = QUORLAX_ModeFromName(name.c_str());
  if (named >= 0) return named;
  const std::vector<int> modes = AllModes();
  if (name.size() == 1 && name[0] >= '0' && name[0] <= '9' &&
      std::find(modes.begin(), modes.end(), name[0] - '0') != modes.end())
    return name[0] - '0';
  std::string choices;
  for (size_t i = 0; i < modes.size(); ++i)
    choices += std::string(i == 0 ? "" : (i + 1 == modes.size() ? " or " : ", ")) + ModeName(modes[i]) + " (" +
               std::to_string(modes[i]) + ")";
  throw Error("unknown mode '" + name + "' (choose " + choices + ")");
}

const char* ModeName(int mode) {
  const char* name = QUORLAX_GetModeName(mode);
  return name != nullptr ? name : "unknown";
}

std::string BandName(int mode) { return ModeName(mode); }

int ConfigureHandle(void* handle, const ModeChoice& choice, int rate, int buffer_size) {
  if (choice.mode == QUORLAX_MODE_CUSTOM) {
    // A handle's encoder takes the process-wide grid when it is built.
    const int r = QUORLAX_SetCustomBaseFreq(choice.base_hz, choice.separation, handle);
    if (r != QUORLAX_OK) return r;
  }
  return QUORLAX_Configure(choice.mode, static_cast<float>(rate), buffer_size, handle);
}

int Supported(const ModeChoice& choice, int rate) {
  return QUORLAX_IsSupported(choice.mode, static_cast<float>(rate), choice.base_hz, choice.separation);
}

std::vector<int> LibraryRates() {
  float rates[16];
  const int n = std::min(QUORLAX_GetSampleRates(rates, 16), 16);
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<int>(rates[i]));
  return out;
}

bool IsLibraryRate(int rate) {
  const std::vector<int> rates = LibraryRates();
  return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

namespace {

// libsoxr's high quality keeps 0.913 of the band below half the rate.
constexpr double kPassband = 0.913;

std::string Khz(double hz) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f kHz", hz / 1000.0);
  return buf;
}

std::string What(const ModeChoice& choice) {
  std::string what = std::string(ModeName(choice.mode)) + " mode";
  if (choice.mode == QUORLAX_MODE_CUSTOM) {
    char grid[96];
    std::snprintf(grid, sizeof grid, " (base %g Hz, separation %d)", choice.base_hz, choice.separation);
    what += grid;
  }
  return what;
}

// Top of what the mode puts on air at the synthesis rate; 0 when it does not fit there.
float TopHz(const ModeChoice& choice) {
  QUORLAX_ModeInfo info;
  info.size = sizeof info;
  return QUORLAX_GetModeInfo(choice.mode, static_cast<float>(kSynthRate), choice.base_hz, choice.separation,
                             &info) == QUORLAX_OK
             ? info.high_hz
             : 0.0f;
}

int FirstConvertedRate(float top) { return static_cast<int>(std::ceil(2.0 * top / kPassband / 100.0)) * 100; }

}  // namespace

int LowestRateFor(const ModeChoice& choice) {
  const float top = TopHz(choice);
  if (top <= 0.0f) return 0;
  int lowest = FirstConvertedRate(top);
  for (int rate : LibraryRates())
    if (rate < lowest && Supported(choice, rate) == QUORLAX_OK) lowest = rate;
  return lowest;
}

bool RateWorks(const ModeChoice& choice, int rate) {
  if (IsLibraryRate(rate)) return Supported(choice, rate) == QUORLAX_OK;
  const float top = TopHz(choice);
  return top > 0.0f && 2.0 * top / kPassband <= rate;
}

std::string RateRefusal(const ModeChoice& choice, int rate) {
  const float top = TopHz(choice);
  if (top <= 0.0f) return ConfigureErrorText(QUORLAX_ERROR_UNSUPPORTED, choice, kSynthRate);
  const int from = FirstConvertedRate(top);
  std::string works;
  for (int r : LibraryRates())
    if (r < from && Supported(choice, r) == QUORLAX_OK) works += std::to_string(r) + " Hz, ";
  return What(choice) + " cannot be sent or heard at " + std::to_string(rate) + " Hz: its tones reach " +
         Khz(top) + ", more than " + std::to_string(rate) + " Hz carries; it works at " + works +
         "any rate from " + std::to_string(from) + " Hz up";
}

std::vector<int> BandsOf(int mode) {
  QUORLAX_ModeInfo info;
  info.size = sizeof info;
  if (QUORLAX_GetModeInfo(mode, static_cast<float>(kDefaultRate), QUORLAX_GetDefaultCustomBase(),
                          QUORLAX_GetDefaultCustomSeparation(), &info) != QUORLAX_OK)
    return {mode};
  return std::vector<int>(info.hears, info.hears + info.num_hears);
}

std::string NoBandFitsAt(const ModeChoice& choice, int rate) {
  std::vector<std::pair<int, int>> lowest;  // rate each band needs, band
  for (int band : BandsOf(choice.mode)) {
    ModeChoice one = choice;
    one.mode = band;
    lowest.emplace_back(LowestRateFor(one), band);
  }
  std::stable_sort(lowest.begin(), lowest.end(), [](auto a, auto b) { return a.first < b.first; });
  std::string needs;
  for (const auto& [needed, band] : lowest) {
    if (needed > 0 && needed <= rate) return "";
    needs += (needs.empty() ? "" : ", ") + BandName(band) + " needs " + std::to_string(needed) + " Hz";
  }
  return "at " + std::to_string(rate) + " Hz no band fits: " + needs + " or more";
}

std::string ConfigureErrorText(int code, const ModeChoice& choice, int rate) {
  std::string text = What(choice) + " at " + std::to_string(rate) + " Hz: " + QUORLAX_GetErrorText(code);
  if (choice.mode != QUORLAX_MODE_CUSTOM || code != QUORLAX_ERROR_UNSUPPORTED) return text;
  float low = 0.0f, high = 0.0f;
  if (QUORLAX_GetCustomBaseRange(static_cast<float>(rate), choice.separation, &low, &high) != QUORLAX_OK)
    return text + "; with separation " + std::to_string(choice.separation) +
           " no base fits: use a smaller --separation";
  char tail[160];
  std::snprintf(tail, sizeof tail, "; bases up to %.0f Hz work there with separation %d (from %.0f Hz)",
                std::floor(high), choice.separation, std::ceil(low));
  return text + tail;
}

}  // namespace cli
