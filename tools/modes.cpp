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

std::string BandName(int band) {
  // Every band fits at 48000 Hz; the library's table has the names.
  for (int mode : {QUORLAX_MODE_AUDIBLE, QUORLAX_MODE_NONAUDIBLE, QUORLAX_MODE_COMPRESSION, QUORLAX_MODE_CUSTOM}) {
    QUORLAX_BandInfo info;
    if (QUORLAX_GetBandInfo(mode, 48000.0f, &info) == QUORLAX_OK && info.decoding_mode == band) return info.name;
  }
  return "unknown";
}

int ConfigureHandle(void* handle, const ModeChoice& choice, int rate, int buffer_size) {
  if (choice.mode == QUORLAX_MODE_CUSTOM) {
    // The grid is process-wide and must be in place before the pair is built.
    const int r = QUORLAX_SetCustomBaseFreq(choice.base_hz, choice.separation, handle);
    if (r != QUORLAX_OK) return r;
  }
  return QUORLAX_Configure(choice.mode, static_cast<float>(rate), buffer_size, handle);
}

std::string ConfigureErrorText(int code, const ModeChoice& choice, int rate) {
  std::string what = std::string(ModeName(choice.mode)) + " mode";
  if (choice.mode == QUORLAX_MODE_CUSTOM) {
    char grid[96];
    std::snprintf(grid, sizeof grid, " (base %g Hz, separation %d)", choice.base_hz, choice.separation);
    what += grid;
  }
  return what + " at " + std::to_string(rate) + " Hz: " + QUORLAX_GetErrorText(code);
}

}  // namespace cli
