#include <cmath>
#include <cstdio>

#include "ZunCoreLib_api.h"
#include "cli.h"

namespace cli {

int ParseModeName(const std::string& name) {
  if (name == "audible") return QUORLAX_MODE_AUDIBLE;
  if (name == "nonaudible") return QUORLAX_MODE_NONAUDIBLE;
  if (name == "compression") return QUORLAX_MODE_COMPRESSION;
  if (name == "all") return QUORLAX_MODE_ALL;
  if (name == "custom") return QUORLAX_MODE_CUSTOM;
  if (name.size() == 1 && name[0] >= '0' + QUORLAX_MODE_AUDIBLE && name[0] <= '0' + QUORLAX_MODE_CUSTOM)
    return name[0] - '0';
  throw Error("unknown mode '" + name +
              "' (choose audible (2), nonaudible (3), compression (4), all (5) or custom (6))");
}

const char* ModeName(int mode) {
  switch (mode) {
    case QUORLAX_MODE_AUDIBLE: return "audible";
    case QUORLAX_MODE_NONAUDIBLE: return "nonaudible";
    case QUORLAX_MODE_COMPRESSION: return "compression";
    case QUORLAX_MODE_ALL: return "all";
    case QUORLAX_MODE_CUSTOM: return "custom";
    default: return "unknown";
  }
}

std::string BandName(int mode) {
  // Every fixed band fits at 48000 Hz; the library's table has the names.
  QUORLAX_BandInfo info;
  if (QUORLAX_GetBandInfo(mode, 48000.0f, &info) == QUORLAX_OK) return info.name;
  return mode == QUORLAX_MODE_CUSTOM ? "custom" : "unknown";
}

int SetCustomGrid(const ModeChoice& choice) {
  void* h = QUORLAX_Create();
  if (h == nullptr) return QUORLAX_ERROR_UNSUPPORTED;
  const int r = QUORLAX_SetCustomBaseFreq(choice.base_hz, choice.separation, h);
  QUORLAX_Destroy(h);
  return r;
}

int ConfigureHandle(void* handle, const ModeChoice& choice, int rate, int buffer_size) {
  if (choice.mode == QUORLAX_MODE_CUSTOM) {
    // The grid is process-wide and must be in place before the pair is built.
    const int r = QUORLAX_SetCustomBaseFreq(choice.base_hz, choice.separation, handle);
    if (r != QUORLAX_OK) return r;
  }
  return QUORLAX_Configure(choice.mode, static_cast<float>(rate), buffer_size, handle);
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

// Top of the band at the synthesis rate; 0 when it does not fit there.
float TopHz(const ModeChoice& choice) {
  const int mode = choice.mode == QUORLAX_MODE_ALL ? QUORLAX_MODE_NONAUDIBLE : choice.mode;
  if (mode == QUORLAX_MODE_CUSTOM && SetCustomGrid(choice) != QUORLAX_OK) return 0.0f;
  QUORLAX_BandInfo info;
  return QUORLAX_GetBandInfo(mode, static_cast<float>(kSynthRate), &info) == QUORLAX_OK ? info.high_hz : 0.0f;
}

bool LibraryTakes(const ModeChoice& choice, int rate) {
  void* h = QUORLAX_Create();
  if (h == nullptr) return false;
  const bool ok = ConfigureHandle(h, choice, rate, 1024) == QUORLAX_OK;
  QUORLAX_Destroy(h);
  return ok;
}

}  // namespace

int LowestRateFor(const ModeChoice& choice) {
  const float top = TopHz(choice);
  if (top <= 0.0f) return 0;
  int lowest = static_cast<int>(std::ceil(2.0 * top / kPassband / 100.0)) * 100;
  for (int rate : kLibraryRates)
    if (rate < lowest && LibraryTakes(choice, rate)) lowest = rate;
  return lowest;
}

bool RateWorks(const ModeChoice& choice, int rate) {
  for (int r : kLibraryRates)
    if (r == rate) return LibraryTakes(choice, rate);
  const float top = TopHz(choice);
  return top > 0.0f && 2.0 * top / kPassband <= rate;
}

std::string RateRefusal(const ModeChoice& choice, int rate) {
  const float top = TopHz(choice);
  if (top <= 0.0f) return ConfigureErrorText(QUORLAX_ERROR_UNSUPPORTED, choice, kSynthRate);
  const int from = static_cast<int>(std::ceil(2.0 * top / kPassband / 100.0)) * 100;
  std::string works;
  for (int r : kLibraryRates)
    if (r < from && LibraryTakes(choice, r)) works += std::to_string(r) + " Hz, ";
  return What(choice) + " cannot be sent or heard at " + std::to_string(rate) + " Hz: its tones reach " +
         Khz(top) + ", more than " + std::to_string(rate) + " Hz carries; it works at " + works +
         "any rate from " + std::to_string(from) + " Hz up";
}

std::vector<int> BandsOf(int mode) {
  if (mode == QUORLAX_MODE_ALL) return {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_COMPRESSION, QUORLAX_MODE_NONAUDIBLE};
  return {mode};
}

std::string ConfigureErrorText(int code, const ModeChoice& choice, int rate) {
  std::string text = What(choice) + " at " + std::to_string(rate) + " Hz: " + QUORLAX_GetErrorText(code);
  if (choice.mode != QUORLAX_MODE_CUSTOM || code != QUORLAX_ERROR_UNSUPPORTED) return text;
  // Which bases do fit at this rate with this separation: the band table says.
  ModeChoice probe = choice;
  QUORLAX_BandInfo info;
  auto fits = [&](float base) {
    probe.base_hz = base;
    return SetCustomGrid(probe) == QUORLAX_OK &&
           QUORLAX_GetBandInfo(QUORLAX_MODE_CUSTOM, static_cast<float>(rate), &info) == QUORLAX_OK;
  };
  float lo = 0.0f, hi = static_cast<float>(rate) / 2;
  for (float start : {50.0f, 500.0f, 2000.0f})
    if (lo == 0.0f && fits(start)) lo = start;
  if (lo == 0.0f) {
    text += "; with separation " + std::to_string(choice.separation) + " no base fits: use a smaller --separation";
  } else {
    while (hi - lo > 1.0f) {
      const float mid = (lo + hi) / 2;
      (fits(mid) ? lo : hi) = mid;
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, "; bases up to %.0f Hz work there with separation %d", std::floor(lo),
                  choice.separation);
    text += tail;
  }
  SetCustomGrid(choice);
  return text;
}

}  // namespace cli
