#include "core/BandTable.h"

#include "ZunCoreLib_api.h"

namespace Globals {

const BandRow bandTable[numBands] = {
    {QUORLAX_MODE_AUDIBLE, DECODING_MODE_AUDIBLE, "audible", 3300.0f, 750.0f, 12, BandLoudness::kFlat, true,
     &nBinsOffsetForAudibleMultiTone, &freqOffsetForAudibleMultiTone},
    {QUORLAX_MODE_NONAUDIBLE, DECODING_MODE_NONAUDIBLE, "nonaudible", 17800.0f, -1.0f, 4, BandLoudness::kGraded,
     true, &nBinsOffsetForNonAudibleMultiTone, &freqOffsetForNonAudibleMultiTone},
    {QUORLAX_MODE_COMPRESSION, DECODING_MODE_COMPRESSION, "compression", 14000.0f, -1.0f, 3,
     BandLoudness::kGraded, true, &nBinsOffsetForCompressionMultiTone, &freqOffsetForCompressionMultiTone},
    {QUORLAX_MODE_CUSTOM, DECODING_MODE_CUSTOM, "custom", -1.0f, -1.0f, -1, BandLoudness::kGraded, false,
     &nBinsOffsetForCustomMultiTone, &freqOffsetForCustomMultiTone},
};

const BandRow* bandOfMode(int mode) {
  for (const BandRow& row : bandTable)
    if (row.mode == mode) return &row;
  return nullptr;
}

const BandRow* bandOfDecodingMode(int decodingMode) {
  for (const BandRow& row : bandTable)
    if (row.decodingMode == decodingMode) return &row;
  return nullptr;
}

float bandTone(const BandRow& row, int idx, float samplingRate, int windowSize) {
  return bandToneWith(row, idx, samplingRate, windowSize, freqBaseForCustomMultiTone, *row.shiftHzNow);
}

int bandShiftBins(const BandRow& row, int customSeparation) {
  return row.shiftBins < 0 ? customSeparation + 2 : row.shiftBins;
}

float bandShiftHzAtWindow(int shiftBins, int windowSize) {
  // The shift steps are defined on the 44100 Hz bin grid whatever the rate.
  const float freq2Bin = static_cast<float>(windowSize) / 44100.0f;
  return shiftBins / freq2Bin;
}

float bandToneWith(const BandRow& row, int idx, float samplingRate, int windowSize, float customBaseHz,
                   float shiftHzAtWindow) {
  const float first = row.firstToneHz < 0.0f ? customBaseHz : row.firstToneHz;
  const float step = row.toneStepHz < 0.0f ? 3 * shiftHzAtWindow : row.toneStepHz;
  return gridFrequency(first, step, idx, samplingRate, windowSize);
}

float bandToneGain(const BandRow& row, int tone, int numTones) {
  if (row.loudness == BandLoudness::kFlat) return 1.0f;
  return static_cast<float>(tone) * 0.15f / static_cast<float>(numTones - 1) + 0.85f;
}

}  // namespace Globals
