#include "core/Modes.h"

#include <cmath>

#include "core/AnalysisSizes.h"
#include "core/BandTable.h"
#include "core/MultiToneBand.h"
#include "ZunCoreLib_api.h"

namespace QUORLAX {
namespace modes {

int BandsHeard(int mode, int* decodingModes) {
  int count = 0;
  for (const Globals::BandRow& row : Globals::bandTable)
    if (mode == QUORLAX_MODE_ALL ? row.heardInModeAll : row.mode == mode) decodingModes[count++] = row.decodingMode;
  return count;
}

int BandSent(int mode) {
  const Globals::BandRow* row = Globals::bandOfMode(mode == QUORLAX_MODE_ALL ? QUORLAX_MODE_NONAUDIBLE : mode);
  return row != nullptr ? row->decodingMode : -1;
}

const char* Name(int mode) {
  if (mode == QUORLAX_MODE_ALL) return "all";
  const Globals::BandRow* row = Globals::bandOfMode(mode);
  return row != nullptr ? row->name : nullptr;
}

int Check(int mode, float sampleRate, float customBaseHz, int customSeparation) {
  if (Name(mode) == nullptr) return QUORLAX_NOT_READY;
  const bool custom = mode == QUORLAX_MODE_CUSTOM;
  if (custom && customSeparation < 0) return QUORLAX_ERROR_INVALID_ARGUMENT;
  if (!std::isfinite(sampleRate) || sampleRate <= 0.0f) return QUORLAX_ERROR_UNSUPPORTED;
  if (custom && (!std::isfinite(customBaseHz) || customBaseHz <= 0.0f ||
                 customSeparation > QUORLAX_MAX_CUSTOM_SEPARATION))
    return QUORLAX_ERROR_UNSUPPORTED;
  const int window = AnalysisWindowFor(sampleRate);
  int heard[kMaxHeard];
  const int count = BandsHeard(mode, heard);
  for (int b = 0; b < count; ++b)
    if (!MultiToneBand::Compute(heard[b], sampleRate, window, customBaseHz, customSeparation).Fits())
      return QUORLAX_ERROR_UNSUPPORTED;
  // Every mode hears the band it sends, so what it sends fits too.
  return QUORLAX_OK;
}

}  // namespace modes
}  // namespace QUORLAX
