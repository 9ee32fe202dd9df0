#include "core/SingleToneGrid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Globals.h"

namespace QUORLAX {

const SingleToneGrid kAudibleSingleToneGrid = {Globals::getFreqFromIdxAudible, &Globals::numTokensAudible,
                                               Globals::DECODING_MODE_AUDIBLE, 2};
const SingleToneGrid kNonAudibleSingleToneGrid = {
    Globals::getFreqFromIdxNonAudible, &Globals::numTokensNonAudible, Globals::DECODING_MODE_NONAUDIBLE, 1};

namespace {

// Envelope of a data slot. The first front-door token fades over its last
// quarter with no gap; every later slot ends in silence so that its tail has
// died before the next token starts.
struct SlotShape {
  int samplesPerDigit, fadeBegin, fadeEnd, gap, firstFall;

  float factor(bool first, int t) const {
    const float a = Globals::tokenAmplitude;
    if (t < fadeBegin) return a * t / fadeBegin;
    if (first) return t > samplesPerDigit - firstFall ? a * (samplesPerDigit - t) / firstFall : a;
    if (t <= samplesPerDigit - fadeEnd - gap) return a;
    if (t < samplesPerDigit - gap) return a * ((samplesPerDigit - gap) - t) / fadeEnd;
    return 0.0f;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Synthesis.

int SynthesizeSingleTone(const SingleToneGrid& grid, const std::vector<int>& digits, float samplingRate,
                         int windowSize, float* out, int capacity) {
  std::memset(out, 0, sizeof(float) * capacity);
  const float tokenLength = Globals::durToken * samplingRate;
  SlotShape shape;
  shape.samplesPerDigit = static_cast<int>(tokenLength);
  shape.fadeBegin = static_cast<int>(Globals::durFade * tokenLength);
  shape.fadeEnd = static_cast<int>(0.5f * tokenLength);
  shape.gap = static_cast<int>(0.1f * tokenLength);
  shape.firstFall = static_cast<int>(tokenLength * 0.25f);
  const int spd = shape.samplesPerDigit;

  int written = 0;
  for (int i = 0; i < static_cast<int>(digits.size()) && written + spd <= capacity; ++i) {
    const float currentFreq = grid.freqOf(digits[i], samplingRate, windowSize);
    const float loudness = Globals::getLoudnessFromIdx(digits[i]);
    float* slot = out + written;
    for (int t = 0; t < spd; ++t)
      slot[t] = shape.factor(i == 0, t) * loudness * sinf(t / samplingRate * 2 * Globals::pi * currentFreq);
    written += spd;
  }
  return written;
}

int BlendSingleToneMelody(const char* melodyString, int melodySize, float samplingRate, float* out,
                          int numSamples) {
  if (melodySize < 1) return numSamples;
  const int spd = Globals::samplesPerToken(samplingRate);
  const int samplesForFade = static_cast<int>(Globals::durToken * samplingRate * Globals::durFade);
  for (int i = 0; i < melodySize; ++i) {
    const float f = Globals::getMusicalNoteFromIdx(Globals::getIdxFromChar(melodyString[i]));
    float* note = out + static_cast<size_t>(i) * spd;
    for (int t = 0; t < spd; ++t)
      note[t] = NoteEnvelope(t, spd, samplesForFade) * 0.25f * sinf(t / samplingRate * 2 * Globals::pi * f) +
                0.75f * note[t];
  }
  return std::max(numSamples, melodySize * spd);
}

float NoteEnvelope(int t, int samplesPerDigit, int samplesForFade) {
  if (t < samplesForFade) return Globals::tokenAmplitude * t / samplesForFade;
  if (t > samplesPerDigit - samplesForFade)
    return Globals::tokenAmplitude * (samplesPerDigit - t) / samplesForFade;
  return Globals::tokenAmplitude;
}

}  // namespace QUORLAX
