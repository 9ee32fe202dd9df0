#include "SingleToneGrid.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "Decoder.h"
#include "Globals.h"

namespace QUORLAX {

const SingleToneGrid kAudibleSingleToneGrid = {Globals::getFreqFromIdxAudible, &Globals::numTokensAudible,
                                               Globals::DECODING_MODE_AUDIBLE, 2};
const SingleToneGrid kNonAudibleSingleToneGrid = {
    Globals::getFreqFromIdxNonAudible, &Globals::numTokensNonAudible, Globals::DECODING_MODE_NONAUDIBLE, 1};

namespace {

// Float product widened to double, then rounded half up.
int binOf(float freq, float freq2Bin) { return static_cast<int>(static_cast<double>(freq * freq2Bin) + 0.5); }

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

float noteFactor(int t, int samplesPerDigit, int samplesForFade) {
  if (t < samplesForFade) return Globals::tokenAmplitude * t / samplesForFade;
  if (t > samplesPerDigit - samplesForFade)
    return Globals::tokenAmplitude * (samplesPerDigit - t) / samplesForFade;
  return Globals::tokenAmplitude;
}

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
      note[t] = noteFactor(t, spd, samplesForFade) * 0.25f * sinf(t / samplingRate * 2 * Globals::pi * f) +
                0.75f * note[t];
  }
  return std::max(numSamples, melodySize * spd);
}

// ---------------------------------------------------------------------------
// Detection.

bool SingleToneDetector::Supports(const SingleToneGrid& grid, float samplingRate, int windowSize) {
  if (!(samplingRate > 0.0f) || windowSize < 4) return false;
  const float freq2Bin = static_cast<float>(windowSize) / samplingRate;
  const int specSize = windowSize / 2 + 1;
  for (int k = 0; k < *grid.numTokens; ++k) {
    const int bin = binOf(grid.freqOf(k, samplingRate, windowSize), freq2Bin);
    if (bin - 1 < 0 || bin + 1 >= specSize) return false;
  }
  return true;
}

SingleToneDetector::SingleToneDetector(Decoder& d, const SingleToneGrid& grid)
    : deReverbBins(d.mSpectralAnalysis->mSpecSize),
      supported(Supports(grid, d.mSampleRate, d.mSpectralAnalysis->mFftSize)) {
  assert(supported && "every token bin and its neighbours must lie inside the spectrum");
  d.mFreq2Bin = static_cast<float>(d.mSpectralAnalysis->mFftSize) / d.mSampleRate;
  d.mFreqsBins = new int[d.mNumTokens];
  for (int k = 0; k < d.mNumTokens; ++k)
    d.mFreqsBins[k] = binOf(grid.freqOf(k, d.mSampleRate, d.mWindowSize), d.mFreq2Bin);
  d.mBeginBin = d.mFreqsBins[0];
  d.mEndBin = d.mFreqsBins[d.mNumTokens - 1];
  d.mBinWidth = grid.deReverbBinWidth;
  d.mDecodingMode = grid.decodingMode;
  // Both block sums of one token land here; sized once so hops never allocate.
  d.mSumPerFrame.reserve(d.mSizeBlockCircularBuffer);
}

int SingleToneDetector::ComputeStartStats(Decoder& d) const {
  if (!supported) return -1;
  float* spectrum = d.mSpectralAnalysis->mSpecMag;
  const float energyBlock = Globals::mean(spectrum + d.mBeginBin, d.mEndBin - d.mBeginBin + 1);
  for (int j = 0; j < d.mNumTokens; ++j) {
    std::memcpy(d.mEvalTokenMags, spectrum + d.mFreqsBins[j] - 1, sizeof(float) * 3);
    d.mEnergyRatios[j] = static_cast<float>(
        20 * std::log10(static_cast<double>(Globals::sum(d.mEvalTokenMags, 3) / 3 / energyBlock)));
  }
  return 0;
}

void SingleToneDetector::RankStartHop(Decoder& d) const {
  const int slot = d.mWritePosInBlockCircularBuffer;
  if (d.ComputeStatsStartTokens() != 0) {
    d.mBlockEnergyRatiosTokenIdx[slot] = d.mBlockEnergyRatiosTokenIdx2[slot] = -1;
    return;
  }
  d.mBlockEnergyRatiosTokenIdx[slot] = Globals::maxValueIdx(d.mEnergyRatios, d.mNumTokens);
  d.mBlockEnergyRatiosTokenIdx2[slot] = Globals::secondValueIdx(d.mEnergyRatios, d.mNumTokens);
}

bool SingleToneDetector::SearchFrontDoor(Decoder& d) const {
  if (!supported) return false;
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  const int nTol = static_cast<int>(0.1 * (n * 0.5) + 0.5);
  // The second token may still sit under the first one's reverberation.
  const int nReverb = static_cast<int>(n * 0.5 * 0.5 + 0.5);
  while (d.getSizeFilledBlockCircularBuffer() >= n - 1) {
    const int r = d.mReadPosInBlockCircularBuffer;
    int first = 0, second = 0, secondAsSecond = 0;
    for (int i = 0; i < h; ++i) first += d.mBlockEnergyRatiosTokenIdx[(r + i) % n] == d.idxFrontDoorToken1;
    for (int i = h; i < n; ++i) {
      second += d.mBlockEnergyRatiosTokenIdx[(r + i) % n] == d.idxFrontDoorToken2;
      secondAsSecond += d.mBlockEnergyRatiosTokenIdx2[(r + i) % n] == d.idxFrontDoorToken2;
    }
    if (first >= h - nTol && (second >= h - nTol - nReverb || second + secondAsSecond >= h - nTol)) {
      d.mReadPosInBlockCircularBuffer = d.mWritePosInBlockCircularBuffer;
      d.mEndStartTokenPosInBlockCircularBuffer = d.mWritePosInBlockCircularBuffer;
      d.mAccumulatedDecodingFrames = 0.0;
      return true;
    }
    d.mReadPosInBlockCircularBuffer = (r + 1) % n;
  }
  return false;
}

float SingleToneDetector::BlockSums(const Decoder& d, int firstSlot, int midFreqBin, int width, int nbins,
                                    std::vector<float>& sumPerFrame) const {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  const int lbin = std::max(midFreqBin - width, 0);
  const int rbin = std::min({midFreqBin + width, nbins, d.mSpectralAnalysis->mSpecSize});
  float mean = 0.0f;
  for (int s = 0; s < h; ++s) {
    const float* frame = d.mBlockSpecMag[(firstSlot + s) % n];
    float sumFr = 0.0f;
    for (int b = lbin; b < rbin; ++b) sumFr += frame[b];
    sumPerFrame.push_back(sumFr);
    mean += sumFr;
  }
  return h > 0 ? mean / static_cast<float>(h) : 0.0f;
}

int SingleToneDetector::DeReverb(Decoder& d, int nbins, const int* freqsBins) const {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  if (!supported || h < 2) return 0;
  const int r = d.mReadPosInBlockCircularBuffer;
  const int width = d.mBinWidth;
  const int specSize = d.mSpectralAnalysis->mSpecSize;
  std::vector<float>& sums = d.mSumPerFrame;
  for (int i = 0; i < d.mNumTokens; ++i) {
    const int b = freqsBins[i];
    sums.clear();
    const float meanCur = d.ComputeBlockMagSpecSumsCurrentToken(b, width, nbins, sums);
    const float diffBeginEndCur = (sums[0] + sums[1]) - (sums[h - 2] + sums[h - 1]);
    const float meanLast = d.ComputeBlockMagSpecSumsLastToken(b, width, nbins, sums);
    // A token fainter than the previous window's level (-2 dB) that decays
    // across its own window is mostly the previous token's tail.
    if (!(meanCur < 0.7943282 * meanLast && diffBeginEndCur > 0)) continue;
    const int lo = std::max(b - width, 0);
    const int hi = std::min(b + width - 1, specSize - 1);
    for (int s = 0; s < h; ++s) {
      float* frame = d.mBlockSpecMag[(r + s) % n];
      for (int bin = lo; bin <= hi; ++bin) frame[bin] *= 0.05f;
    }
  }
  return 0;
}

int SingleToneDetector::ComputeWindowStats(Decoder& d) const {
  const int n = d.mSizeBlockCircularBuffer;
  if (!supported || n < 2) return 0;
  const int h = n / 2;
  const int r = d.mReadPosInBlockCircularBuffer;
  double energy = 0.0;
  for (int s = 0; s < h; ++s) {
    const float* frame = d.mBlockSpecMag[(r + s) % n];
    for (int b = d.mBeginBin; b <= d.mEndBin; ++b) energy += frame[b];
  }
  const double energyBlock = energy / (static_cast<double>(d.mEndBin - d.mBeginBin + 1) * h);

  // The same tone in consecutive slots blurs into one under reverberation,
  // so the tokens just read are handicapped; before any token is read the
  // front door stands in for them.
  const std::vector<int>& v = d.mDecodedValues;
  const int nv = static_cast<int>(v.size());
  const int last = nv >= 1 ? v[nv - 1] : d.idxFrontDoorToken2;
  const int beforeLast = nv >= 2 ? v[nv - 2] : (nv == 0 ? d.idxFrontDoorToken1 : -1);
  const int third = nv >= 3 ? v[nv - 3] : -1;

  for (int s = 0; s < h; ++s) {
    const int slot = (r + s) % n;
    const float* frame = d.mBlockSpecMag[slot];
    for (int idx = 0; idx < d.mNumTokens; ++idx) {
      std::memcpy(d.mEvalTokenMags, frame + d.mFreqsBins[idx] - 1, sizeof(float) * 3);
      float penalty = 1.0f;
      if (idx == last) penalty *= 0.2f;
      if (idx == beforeLast) penalty *= 0.4f;
      if (idx == third) penalty *= 0.7f;
      if (penalty != 1.0f)
        for (int k = 0; k < 3; ++k) d.mEvalTokenMags[k] *= penalty;
      d.mEnergyRatios[idx] =
          static_cast<float>(20 * std::log10(Globals::sum(d.mEvalTokenMags, 3) / 3 / energyBlock));
    }
    d.mBlockEnergyRatiosTokenIdx[slot] = Globals::maxValueIdx(d.mEnergyRatios, d.mNumTokens);
  }
  return 0;
}

int SingleToneDetector::DecideToken(Decoder& d) const {
  const int n = d.mSizeBlockCircularBuffer;
  const int h = n / 2;
  if (d.getSizeFilledBlockCircularBuffer() < h) return -1;
  d.DeReverbToken(deReverbBins, d.mFreqsBins);
  d.ComputeStats();
  std::fill(d.mTokenRepetitions, d.mTokenRepetitions + d.mNumTokens, 0);
  // The first frames of a window still hold the previous token's tail.
  const int reverbFrames = static_cast<int>(static_cast<float>(n) * 0.5f * 0.1f + 0.5f);
  const int r = d.mReadPosInBlockCircularBuffer;
  for (int i = reverbFrames; i < h; ++i) {
    const int token = d.mBlockEnergyRatiosTokenIdx[(r + i) % n];
    if (token >= 0 && token < d.mNumTokens) ++d.mTokenRepetitions[token];
  }
  return Globals::maxValueIdx(d.mTokenRepetitions, d.mNumTokens);
}

}  // namespace QUORLAX
