#include "core/BandGeometry.h"

#include <cmath>

#include "Globals.h"

namespace QUORLAX {

float LevelDb(double quotient) { return static_cast<float>(20 * std::log10(quotient)); }

BandGeometry::BandGeometry(const MultiToneBand& b, int specSize) : band(b) {
  for (int i = 0; i < kNumTones; ++i) toneBins[i] = band.ToneBin(i);
  beginBin = toneBins[0];
  endBin = toneBins[kNumTones - 1];
  for (int k = 0; k < MultiToneBand::kMaxShifts; ++k) shiftBins[k] = band.ShiftBinsFor(k);
  fits = band.Fits() && BinsInside(beginBin - 1, endBin + shiftBins[MultiToneBand::kMaxShifts - 1] + 1, specSize);
  int pair[2];
  MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[0]), pair);
  frontDoorTone1 = pair[0];
  MultiToneBand::TonesOf(Globals::getIdxFromChar(Globals::frontDoorTokens[1]), pair);
  frontDoorTone2 = pair[0];
}

SpectraRing::Range BandGeometry::ReadRange() const {
  if (!fits) return {0, -1};
  return {beginBin - 1, endBin + shiftBins[MultiToneBand::kMaxShifts - 1] + 1};
}

bool BandGeometry::StartLevel(const float* spectrum, float* energyBlock, double* level) const {
  if (!fits) return false;
  float sum = 0.0f;
  if (level != nullptr) {
    double wide = 0.0;
    for (int b = beginBin; b <= endBin; ++b) {
      sum += spectrum[b];
      wide += spectrum[b];
    }
    *level = wide;
  } else {
    for (int b = beginBin; b <= endBin; ++b) sum += spectrum[b];
  }
  *energyBlock = sum / static_cast<float>(BandBins());
  return HasEnergy(*energyBlock);
}

bool BandGeometry::ComputeStartStats(const float* spectrum, float* energyRatios, double* level) const {
  float energyBlock;
  if (!StartLevel(spectrum, &energyBlock, level)) return false;
  for (int i = 0; i < kNumTones; ++i)
    energyRatios[i] = LevelDb(static_cast<double>(ToneSum(spectrum, toneBins[i]) / kMeasuredBins / energyBlock));
  return true;
}

}  // namespace QUORLAX
