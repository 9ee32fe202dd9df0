#include "core/MultiToneBand.h"

#include <cmath>

#include "core/BandTable.h"

namespace QUORLAX {

namespace {

// Bin of a frequency: float product widened to double, rounded half up.
int binOf(float hz, float freq2Bin) { return static_cast<int>(static_cast<double>(hz * freq2Bin) + 0.5); }

}  // namespace

namespace {

// One band from its row and steps: the shift step in bins of the 44100 Hz
// grid and that step in Hz as derived for this window.
MultiToneBand FromSteps(const Globals::BandRow& row, float sampleRate, int windowSize, float customBaseHz,
                        int shiftBins, float shiftHzAtWindow) {
  MultiToneBand band;
  band.decodingMode = row.decodingMode;
  band.sampleRate = sampleRate;
  band.windowSize = windowSize;
  for (int i = 0; i < MultiToneBand::kNumTones; ++i) {
    band.toneHz[i] = Globals::bandToneWith(row, i, sampleRate, windowSize, customBaseHz, shiftHzAtWindow);
    band.toneGain[i] = Globals::bandToneGain(row, i, MultiToneBand::kNumTones);
  }
  band.nextToneHz =
      Globals::bandToneWith(row, MultiToneBand::kNumTones, sampleRate, windowSize, customBaseHz, shiftHzAtWindow);
  band.shiftBins = shiftBins;
  // At window 2048 the window's step is the one on air. At other windows it
  // would be twice too large, so use our own bin width, which makes the same
  // step in Hz as at 44100 Hz / 2048.
  band.shiftHz = windowSize == 2048 ? shiftHzAtWindow
                                    : static_cast<float>(shiftBins) * (sampleRate / static_cast<float>(windowSize));
  return band;
}

const Globals::BandRow& rowOf(int decodingMode) {
  const Globals::BandRow* found = Globals::bandOfDecodingMode(decodingMode);
  return found != nullptr ? *found : Globals::bandTable[0];
}

}  // namespace

MultiToneBand MultiToneBand::Make(int decodingMode, float sampleRate, int windowSize) {
  const Globals::BandRow& row = rowOf(decodingMode);
  return FromSteps(row, sampleRate, windowSize, Globals::freqBaseForCustomMultiTone, *row.shiftBinsNow,
                   *row.shiftHzNow);
}

MultiToneBand MultiToneBand::Compute(int decodingMode, float sampleRate, int windowSize, float customBaseHz,
                                     int customSeparation) {
  const Globals::BandRow& row = rowOf(decodingMode);
  const int shiftBins = Globals::bandShiftBins(row, customSeparation);
  return FromSteps(row, sampleRate, windowSize, customBaseHz, shiftBins,
                   Globals::bandShiftHzAtWindow(shiftBins, windowSize));
}

void MultiToneBand::TonesOf(int token, int tones[2]) {
  int* p = tones;
  Globals::tonesOfToken(token, &p);
}

int MultiToneBand::TokenOf(int tone1, int tone2) { return Globals::tokenOfTones(tone1, tone2); }

int MultiToneBand::ToneBin(int tone) const {
  return binOf(toneHz[tone], static_cast<float>(windowSize) / sampleRate);
}

int MultiToneBand::ShiftBinsFor(int k) const {
  // Every encoder shifts by shiftBins bins of the 44100 Hz / 2048 grid.
  const double stepHz = shiftBins * (44100.0 / 2048.0);
  const double binHz = static_cast<double>(sampleRate) / windowSize;
  return static_cast<int>(std::floor(k * stepHz / binHz + 0.5));
}

bool MultiToneBand::Fits() const {
  // Below a 1024-sample window the grid snaps to bins of 125 Hz or more: the
  // tones leave the protocol's grid, and the shift step the encoders take at
  // such a window is not the one the decoders look for, so nothing sent there
  // is heard, not even by the same configuration.
  if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate) || windowSize < 1024) return false;
  const float nyquist = sampleRate * 0.5f;
  for (int i = 0; i < kNumTones; ++i)
    if (!std::isfinite(toneHz[i]) || toneHz[i] <= 0.0f || toneHz[i] + 2 * shiftHz >= nyquist) return false;
  // Neighbouring tones must not share a measured bin.
  for (int i = 1; i < kNumTones; ++i)
    if (ToneBin(i) - ToneBin(i - 1) < 3) return false;
  const int lowest = ToneBin(0) - 1;
  const int highest = ToneBin(kNumTones - 1) + ShiftBinsFor(kMaxShifts - 1) + 1;
  return lowest >= 0 && highest < SpectrumSize();
}

}  // namespace QUORLAX
