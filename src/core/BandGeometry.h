// Where one multi-tone band lies in a spectrum: the bins of its tones, of its
// level and of its shift steps. Constant once built; the door search and the
// token read of every decoder and listener measure through it.
#pragma once

#include "core/MultiToneBand.h"
#include "core/SpectraRing.h"

namespace QUORLAX {

struct BandGeometry {
  static constexpr int kNumTones = MultiToneBand::kNumTones;
  static constexpr int kMeasuredBins = 3;  // a tone's bin and one neighbour on each side

  BandGeometry(const MultiToneBand& band, int specSize);
  BandGeometry() = default;  // fits nothing

  // The bins this band reads of a spectrum (none when it does not fit).
  SpectraRing::Range ReadRange() const;
  int BandBins() const { return endBin - beginBin + 1; }
  // Sum of a tone's three bins in the protocol's order.
  static float ToneSum(const float* spectrum, int bin) {
    return ((0.0f + spectrum[bin - 1]) + spectrum[bin]) + spectrum[bin + 1];
  }

  // Band mean of one spectrum in single precision (and the band's sum in
  // double when `level` is given); false when the band holds no energy.
  bool StartLevel(const float* spectrum, float* energyBlock, double* level) const;
  // Level of each tone above the band's mean on one spectrum, in dB. False,
  // with the ratios untouched, when the band holds no energy. With `level`,
  // also the band's sum in double precision.
  bool ComputeStartStats(const float* spectrum, float* energyRatios, double* level = nullptr) const;

  MultiToneBand band;
  bool fits = false;  // every bin read lies inside the spectrum; otherwise nothing is detected
  int toneBins[kNumTones] = {};
  int beginBin = 0;  // band level is measured over beginBin..endBin
  int endBin = 0;
  int shiftBins[MultiToneBand::kMaxShifts] = {};
  int frontDoorTone1 = 0;  // the tone each front-door token sounds
  int frontDoorTone2 = 0;
};

// 20 log10 of a level quotient, in single precision.
float LevelDb(double quotient);

}  // namespace QUORLAX
