#include "MultiToneBand.h"

#include <cmath>

#include "Globals.h"

namespace QUORLAX {

namespace {

struct BandFunctions {
  float (*tone)(int, float, int);
  void (*gains)(int, float**);
  void (*tokenToTones)(int, int**);
  int (*tonesToToken)(int, int);
  const int* nBinsOffset;
  const float* freqOffset;
};

BandFunctions functionsOf(int decodingMode) {
  using namespace Globals;
  switch (decodingMode) {
    case DECODING_MODE_NONAUDIBLE:
      return {getToneFromIdxNonAudibleMultiTone, getLoudnessNonAudibleMultiToneFromIdx,
              getIdxsFromIdxNonAudibleMultiTone, getIdxTokenFromIdxsTonesNonAudibleMultiTone,
              &nBinsOffsetForNonAudibleMultiTone, &freqOffsetForNonAudibleMultiTone};
    case DECODING_MODE_COMPRESSION:
      return {getToneFromIdxCompressionMultiTone, getLoudnessCompressionMultiToneFromIdx,
              getIdxsFromIdxCompressionMultiTone, getIdxTokenFromIdxsTonesCompressionMultiTone,
              &nBinsOffsetForCompressionMultiTone, &freqOffsetForCompressionMultiTone};
    case DECODING_MODE_CUSTOM:
      return {getToneFromIdxCustomMultiTone, getLoudnessCustomMultiToneFromIdx,
              getIdxsFromIdxCustomMultiTone, getIdxTokenFromIdxsTonesCustomMultiTone,
              &nBinsOffsetForCustomMultiTone, &freqOffsetForCustomMultiTone};
    default:
      return {getToneFromIdxAudibleMultiTone, getLoudnessAudibleMultiToneFromIdx,
              getIdxsFromIdxAudibleMultiTone, getIdxTokenFromIdxsTonesAudibleMultiTone,
              &nBinsOffsetForAudibleMultiTone, &freqOffsetForAudibleMultiTone};
  }
}

// Bin of a frequency: float product widened to double, rounded half up.
int binOf(float hz, float freq2Bin) { return static_cast<int>(static_cast<double>(hz * freq2Bin) + 0.5); }

}  // namespace

MultiToneBand MultiToneBand::Make(int decodingMode, float sampleRate, int windowSize) {
  MultiToneBand band;
  const BandFunctions f = functionsOf(decodingMode);
  band.decodingMode = decodingMode;
  band.sampleRate = sampleRate;
  band.windowSize = windowSize;
  band.tonesToToken = f.tonesToToken;
  band.tokenToTones = f.tokenToTones;
  for (int i = 0; i < kNumTones; ++i) band.toneHz[i] = f.tone(i, sampleRate, windowSize);
  band.nextToneHz = f.tone(kNumTones, sampleRate, windowSize);
  // Gains depend on the tone alone; read them through pairs that contain each tone.
  for (int token = 0; token < 32; ++token) {
    int tones[2];
    band.TonesOf(token, tones);
    float gains[2];
    float* g = gains;
    f.gains(token, &g);
    band.toneGain[tones[0]] = gains[0];
    band.toneGain[tones[1]] = gains[1];
  }
  band.shiftBins = *f.nBinsOffset;
  // At window 2048 the process-wide step is the one on air. At other windows
  // it would be twice too large, so use our own bin width, which makes the
  // same step in Hz as at 44100 Hz / 2048.
  band.shiftHz = windowSize == 2048
                     ? *f.freqOffset
                     : static_cast<float>(band.shiftBins) * (sampleRate / static_cast<float>(windowSize));
  return band;
}

void MultiToneBand::TonesOf(int token, int tones[2]) const {
  int* p = tones;
  tokenToTones(token, &p);
}

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
  if (!(sampleRate > 0.0f) || !std::isfinite(sampleRate) || windowSize < 4) return false;
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
