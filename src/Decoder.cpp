#include "Decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "core/AnalysisSizes.h"
#include "Globals.h"
#include "core/MessageReadOut.h"

namespace QUORLAX {

namespace {
constexpr int kNotReady = -1;
constexpr int kFrontDoor = -2;
constexpr int kMessageComplete = -3;
constexpr int kInvalidArgument = -4;
constexpr int kBufferFull = -6;
constexpr int kTextBytes = 30;
constexpr int kMinFrameRing = 8192;

template <typename T>
void releaseArray(T*& p) {
  delete[] p;
  p = nullptr;
}

// Unread entries between a read and a write position of a ring of `size`.
int ringFill(int write, int read, int size) { return write >= read ? write - read : write - read + size; }
}  // namespace

Decoder::Decoder(float samplingRate, int buffSize, int windowSize, int numTokens, int numTones)
    : mSampleRate(samplingRate),
      mBufferSize(buffSize),
      mDecoding(0),
      mDecodingMode(-1),
      mDecodedString{},
      mSpectralAnalysis(nullptr),
      mReadPosInFrameCircularBuffer(0),
      mWritePosInFrameCircularBuffer(0),
      mSizeFrameCircularBuffer(0),
      mCircularBufferFloat(nullptr),
      mWindowSize(windowSize),
      mHopSize(AnalysisHopFor(samplingRate)),
      mNumTokens(numTokens),
      mNumTones(numTones),
      mFreq2Bin(0.0f),
      mFreqsBins(nullptr),
      mBinWidth(1),
      mSizeTokenBinAnal(3),
      mEvalTokenMags(nullptr),
      mBeginBin(0),
      mEndBin(0),
      idxFrontDoorToken1(Globals::getIdxFromChar(Globals::frontDoorTokens[0])),
      idxFrontDoorToken2(Globals::getIdxFromChar(Globals::frontDoorTokens[1])),
      mEnergyRatios(nullptr),
      mReadPosInBlockCircularBuffer(0),
      mWritePosInBlockCircularBuffer(0),
      mSizeBlockCircularBuffer(static_cast<int>(samplingRate * Globals::durToken * 2 /
                                                    static_cast<float>(mHopSize) +
                                                0.5f)),
      mnToleranceFrames(static_cast<int>(mSizeBlockCircularBuffer * 0.5 * 0.05 + 0.5)),
      mBlockEnergyRatiosTokenIdx(nullptr),
      mBlockEnergyRatiosTokenIdx2(nullptr),
      mTokenRepetitions(nullptr),
      mEndStartTokenPosInBlockCircularBuffer(0),
      mAccumulatedDecodingFrames(0.0),
      mMessageLength(Globals::numWordTokens + Globals::numFrontDoorTokens + 1),
      mReedSolomon(nullptr),
      mDecodedValuesOrig(nullptr),
      mConfidenceEnergyRatios(0.0f),
      mConfidenceCorrection(0.0f),
      mReceivedZunsVolume(0.0f),
      mActiveBand(0) {
  Globals::init(windowSize, samplingRate);
  try {
    mSpectralAnalysis = new SpectralAnalysis(kEnergySpectrum, windowSize, windowSize, mHopSize);
    // Four windows, and at least room for a 4096-sample host buffer on top of
    // the less-than-a-window that a drain leaves behind.
    mSizeFrameCircularBuffer = std::max(4 * mSpectralAnalysis->mWindowSize, kMinFrameRing);
    mCircularBufferFloat = new float[mSizeFrameCircularBuffer + mSpectralAnalysis->mWindowSize]();
    mEvalTokenMags = new float[mSizeTokenBinAnal]();
    mEnergyRatios = new float[numTones]();
    mReedSolomon = new ReedSolomon();
    mDecodedValuesOrig = new int[Globals::numTotalTokens - Globals::numCorrectionTokens]();
  } catch (...) {
    ReleaseArrays();
    throw;
  }
}

Decoder::~Decoder() { ReleaseArrays(); }

void Decoder::ReleaseArrays() {
  releaseArray(mFreqsBins);
  releaseArray(mDecodedValuesOrig);
  delete mReedSolomon;
  mReedSolomon = nullptr;
  releaseArray(mEnergyRatios);
  releaseArray(mEvalTokenMags);
  releaseArray(mCircularBufferFloat);
  delete mSpectralAnalysis;
  mSpectralAnalysis = nullptr;
}

// ---------------------------------------------------------------------------
// Rings.

int Decoder::getSizeFilledFrameCircularBuffer() const {
  return ringFill(mWritePosInFrameCircularBuffer, mReadPosInFrameCircularBuffer, mSizeFrameCircularBuffer);
}

int Decoder::getSizeFilledBlockCircularBuffer() const {
  return ringFill(mWritePosInBlockCircularBuffer, mReadPosInBlockCircularBuffer, mSizeBlockCircularBuffer);
}

int Decoder::getSizeFilledBlockCircularBuffer(int mode) const {
  if (mode < 0 || mode >= static_cast<int>(mBands.size())) return getSizeFilledBlockCircularBuffer();
  return ringFill(mWritePosInBlockCircularBuffer, mReadPosInBlockCircularBufferArray[mode],
                  mSizeBlockCircularBuffer);
}

void Decoder::AnalyzeFrame(const float* frame) {
  mSpectralAnalysis->doFFTBins(frame, mBlockRing->Row(mWritePosInBlockCircularBuffer));
  // The whole spectrum only when asked for; a frame of the ring lasts until
  // then (DecodeAudioBuffer sees to it), a caller's own buffer may not.
  const std::less<const float*> before;
  if (!before(frame, mCircularBufferFloat) && before(frame, mCircularBufferFloat + mSizeFrameCircularBuffer)) {
    mPendingFrame = frame;
  } else {
    mPendingFrame = nullptr;
    mSpectralAnalysis->doFFT(const_cast<float*>(frame), mSpectralAnalysis->mSpecMag, nullptr);
  }
}

const float* Decoder::FullSpectrum() const {
  if (mPendingFrame != nullptr) {
    mSpectralAnalysis->doFFT(const_cast<float*>(mPendingFrame), mSpectralAnalysis->mSpecMag, nullptr);
    mPendingFrame = nullptr;
  }
  return mSpectralAnalysis->mSpecMag;
}

void Decoder::BuildBlockRing() {
  const int spectrum_size = mSpectralAnalysis->mSpecSize;
  SpectraRing::Range ranges[SpectraRing::kMaxRanges];
  int count = 0;
  if (mSingleTone) ranges[count++] = mSingleTone->ReadRange(spectrum_size);
  for (const BandGeometry& band : mBands) ranges[count++] = band.ReadRange();
  // The ring and the door searches in one block: counted, then placed.
  auto layOut = [&](Arena& arena) {
    mBlockRing.reset(
        new SpectraRing(mSizeBlockCircularBuffer, spectrum_size, mnToleranceFrames, ranges, count, arena));
    mDoorSearches.clear();
    for (const BandGeometry& band : mBands) mDoorSearches.emplace_back(band, mSizeBlockCircularBuffer, arena);
  };
  Arena counting;
  layOut(counting);
  mArrays = ArenaBlock(counting.Used());
  layOut(mArrays.arena());
  mFrameStats.assign(static_cast<size_t>(mSizeBlockCircularBuffer / 2 + 1), sTokenProbs{});
  mSpectralAnalysis->PlanBins(mBlockRing->Offsets());
}

void Decoder::WriteFrames(const float* samples, int size) {
  const int s = mSizeFrameCircularBuffer;
  const int w = mWritePosInFrameCircularBuffer;
  const int window = mSpectralAnalysis->mWindowSize;
  float* ring = mCircularBufferFloat;
  const int first = std::min(size, s - w);
  std::memcpy(ring + w, samples, sizeof(float) * first);
  std::memcpy(ring, samples + first, sizeof(float) * (size - first));
  // The repeated first window follows whatever was written into it.
  if (w < window) std::memcpy(ring + s + w, ring + w, sizeof(float) * std::min(first, window - w));
  if (size > first) std::memcpy(ring + s, ring, sizeof(float) * std::min(size - first, window));
}

void Decoder::AdvanceBlockWrite() {
  mWritePosInBlockCircularBuffer = (mWritePosInBlockCircularBuffer + 1) % mSizeBlockCircularBuffer;
}

SpectraView Decoder::Spectra(int detector) const {
  if (!mBlockRing) return {nullptr, 0, mSizeBlockCircularBuffer, mSpectralAnalysis->mSpecSize, mnToleranceFrames, 0, -1};
  return mBlockRing->View(detector);
}

void Decoder::StartTokenClock() {
  mEndStartTokenPosInBlockCircularBuffer = mWritePosInBlockCircularBuffer;
  mAccumulatedDecodingFrames = 0.0;
}

int Decoder::AdvanceTokenClock() {
  return NextTokenWindow(mEndStartTokenPosInBlockCircularBuffer, &mAccumulatedDecodingFrames,
                         mSizeBlockCircularBuffer);
}

// ---------------------------------------------------------------------------
// Driving loop.

int Decoder::DecodeAudioBuffer(float* audioBuffer, int size) {
  if (size < 0 || (audioBuffer == nullptr && size > 0)) return kInvalidArgument;
  const int s = mSizeFrameCircularBuffer;
  if (size > s - 1 - getSizeFilledFrameCircularBuffer()) return kBufferFull;

  if (size > 0) {
    // The last frame analysed starts a hop behind the read position: take
    // its whole spectrum before these samples overwrite it.
    if (mPendingFrame != nullptr && size > s - getSizeFilledFrameCircularBuffer() - mSpectralAnalysis->mHopSize)
      FullSpectrum();
    WriteFrames(audioBuffer, size);
  }
  mWritePosInFrameCircularBuffer = (mWritePosInFrameCircularBuffer + size) % s;

  const int window = mSpectralAnalysis->mWindowSize;
  while (getSizeFilledFrameCircularBuffer() >= window) {
    float* frame = mCircularBufferFloat + mReadPosInFrameCircularBuffer;
    mReadPosInFrameCircularBuffer = (mReadPosInFrameCircularBuffer + mSpectralAnalysis->mHopSize) % s;

    if (mDecoding == 0) {
      if (AnalyzeStartTokens(frame) <= 0) continue;
      mDecoding = 1;
      mConfidenceEnergyRatios = 0.0f;
      mReceivedZunsVolume = 0.0f;
      // A new front door starts a new message, even if the last was never read out.
      mDecodedValues.clear();
      mDecodedValues.push_back(idxFrontDoorToken1);
      mDecodedValues.push_back(idxFrontDoorToken2);
      return kFrontDoor;
    }
    if (mDecoding > Globals::numMessageTokens) {
      mDecoding = 0;
      mConfidenceEnergyRatios /= static_cast<float>(Globals::numMessageTokens);
      mReceivedZunsVolume /= static_cast<float>(Globals::numMessageTokens);
      return kMessageComplete;
    }
    const int token = AnalyzeToken(frame);
    if (token < 0) continue;
    mDecodedValues.push_back(token);
    ++mDecoding;
    return token;
  }
  return kNotReady;
}

// ---------------------------------------------------------------------------
// Analysis slots, forwarded to the detectors.

int Decoder::AnalyzeStartTokens(float* audioBuffer) {
  if (mSingleTone) {
    AnalyzeFrame(audioBuffer);
    mSingleTone->RankStartHop(Spectra().Row(mWritePosInBlockCircularBuffer), mWritePosInBlockCircularBuffer);
    AdvanceBlockWrite();
    if (!mSingleTone->SearchFrontDoor(Spectra(), mWritePosInBlockCircularBuffer, &mReadPosInBlockCircularBuffer))
      return 0;
    StartTokenClock();
    return 1;
  }
  if (mBands.empty()) return -1;
  AnalyzeFrame(audioBuffer);
  const int slot = mWritePosInBlockCircularBuffer;
  // Band 0 records before the write position advances and the others after,
  // so later bands see the newest hops in order.
  for (int b = 0; b < static_cast<int>(mBands.size()); ++b) {
    DoorSearch& doors = mDoorSearches[b];
    const SpectraView ring = Spectra(b);
    doors.RankTones(ring.Row(slot), b == 0 ? slot : mWritePosInBlockCircularBuffer);
    if (b == 0) AdvanceBlockWrite();
    if (doors.SearchFrontDoor(ring, mWritePosInBlockCircularBuffer, &mReadPosInBlockCircularBufferArray[b])) {
      mActiveBand = b;
      mDecodingMode = mBands[b].band.decodingMode;
      StartTokenClock();
      return b + 1;
    }
  }
  return 0;
}

int Decoder::AnalyzeToken(float* audioBuffer) {
  if (mSingleTone) {
    AnalyzeFrame(audioBuffer);
    AdvanceBlockWrite();
    const int token = mSingleTone->DecideToken(Spectra(), mReadPosInBlockCircularBuffer,
                                               mWritePosInBlockCircularBuffer, mDecodedValues);
    if (token >= 0) mReadPosInBlockCircularBuffer = AdvanceTokenClock();
    return token;
  }
  if (mBands.empty()) return -1;
  return AnalyzeToken(audioBuffer, mActiveBand);
}

int Decoder::AnalyzeToken(float* audioBuffer, int mode) {
  int& readPos = mReadPosInBlockCircularBufferArray[mode];
  AnalyzeFrame(audioBuffer);
  AdvanceBlockWrite();
  if (getSizeFilledBlockCircularBuffer(mode) < mSizeBlockCircularBuffer / 2) return -1;
  const TokenDecision d = ReadToken(mBands[mode], Spectra(mode), readPos, mDecoding, mFrameStats.data());
  mConfidenceEnergyRatios += d.energyRatio;
  mReceivedZunsVolume += d.energy;
  readPos = AdvanceTokenClock();
  return d.token;
}

int Decoder::ComputeStatsStartTokens() {
  if (mSingleTone) return mSingleTone->ComputeStartStats(FullSpectrum(), mEnergyRatios) ? 0 : -1;
  if (mBands.empty()) return -1;
  return mBands[mActiveBand].ComputeStartStats(FullSpectrum(), mEnergyRatios) ? 0 : -1;
}

int Decoder::ComputeStats() {
  if (mSingleTone) {
    mSingleTone->ComputeWindowStats(Spectra(), mReadPosInBlockCircularBuffer, mDecodedValues);
    return 0;
  }
  if (mBands.empty()) return -1;
  ReadToken(mBands[mActiveBand], Spectra(mActiveBand), mReadPosInBlockCircularBufferArray[mActiveBand], mDecoding,
            mFrameStats.data());
  return 0;
}

void Decoder::UseSingleTone(const SingleToneGrid& grid) {
  mSingleTone.reset(
      new SingleToneDetector(grid, mSampleRate, mSpectralAnalysis->mFftSize, mSizeBlockCircularBuffer));
  const SingleToneDetector& st = *mSingleTone;
  mFreq2Bin = static_cast<float>(mSpectralAnalysis->mFftSize) / mSampleRate;
  mFreqsBins = new int[mNumTokens];
  for (int k = 0; k < mNumTokens; ++k) mFreqsBins[k] = st.tokenBins[k];
  mBeginBin = st.beginBin;
  mEndBin = st.endBin;
  mDecodingMode = grid.decodingMode;
  mBlockEnergyRatiosTokenIdx = mSingleTone->strongestToken.data();
  mBlockEnergyRatiosTokenIdx2 = mSingleTone->secondToken.data();
  mTokenRepetitions = mSingleTone->tokenVotes.data();
  BuildBlockRing();
}

void Decoder::AddBands(const std::vector<MultiToneBand>& bands) {
  // The door searches keep pointers to these: no growth after this.
  mBands.reserve(bands.size());
  for (const MultiToneBand& band : bands) {
    mBands.emplace_back(band, mSpectralAnalysis->mSpecSize);
    mReadPosInBlockCircularBufferArray.push_back(0);
  }
  const BandGeometry& first = mBands[0];
  mFreq2Bin = static_cast<float>(mSpectralAnalysis->mFftSize) / mSampleRate;
  mBeginBin = first.beginBin;
  mEndBin = first.endBin;
  BuildBlockRing();
  mBlockEnergyRatiosTokenIdx = mDoorSearches[0].StrongestArray();
  mBlockEnergyRatiosTokenIdx2 = mDoorSearches[0].SecondArray();
}

// ---------------------------------------------------------------------------
// Read-out.

// Single-tone decoders report no correction confidence.
int Decoder::GetDecodedData(char* stringDecoded) { return ReadOutMessage(stringDecoded, !mSingleTone); }

int Decoder::ReadOutMessage(char* stringDecoded, bool trackCorrection) {
  if (stringDecoded == nullptr) return kInvalidArgument;
  const int received = static_cast<int>(mDecodedValues.size());
  if (mDecoding != 0 || received != Globals::numTotalTokens) {
    stringDecoded[0] = '\0';
    return kNotReady;
  }
  std::memset(mDecodedString, 0, kTextBytes);
  const ReadOut r = ReadOutTokens(*mReedSolomon, mDecodedValues.data(), mDecodedValuesOrig, mDecodedString);
  if (trackCorrection) mConfidenceCorrection = r.correctionShare;
  const int len = Globals::numWordTokens;
  std::memcpy(stringDecoded, mDecodedString, len + 1);
  std::memset(mDecodedString, 0, kTextBytes);
  mDecodedValues.clear();
  return r.ok ? len : -len;
}

// ---------------------------------------------------------------------------
// Getters and single-tone slots.

float Decoder::GetDecodingBeginFreq() { return 0.0f; }
float Decoder::GetDecodingEndFreq() { return 0.0f; }
int Decoder::DeReverbToken(const int nbins, int* freqsBins) {
  if (!mSingleTone) return -1;
  mSingleTone->DeReverb(Spectra(), mReadPosInBlockCircularBuffer, nbins, freqsBins);
  return 0;
}

float Decoder::ComputeBlockMagSpecSumsCurrentToken(int midFreqBin, int width, int nbins,
                                                   std::vector<float>& sumPerFrame) {
  if (!mSingleTone) return -1.0f;
  return mSingleTone->BlockSums(Spectra(), mReadPosInBlockCircularBuffer, midFreqBin, width, nbins, sumPerFrame);
}

float Decoder::ComputeBlockMagSpecSumsLastToken(int midFreqBin, int width, int nbins,
                                                std::vector<float>& sumPerFrame) {
  if (!mSingleTone) return -1.0f;
  return mSingleTone->BlockSums(Spectra(), mReadPosInBlockCircularBuffer + mSizeBlockCircularBuffer / 2,
                                midFreqBin, width, nbins, sumPerFrame);
}

float Decoder::GetConfidence() const { return MessageConfidence(mConfidenceEnergyRatios, mConfidenceCorrection); }

float Decoder::GetConfidenceError() const { return mConfidenceCorrection; }
float Decoder::GetConfidenceNoise() const { return mConfidenceEnergyRatios; }
float Decoder::GetReceivedZunsVolume() const { return 20.0f * log10f(mReceivedZunsVolume); }
int Decoder::GetDecodedMode() const { return mDecodingMode; }

int Decoder::GetSpectrum(float* spectrumBuffer) const {
  const int count = mSpectralAnalysis->mFftSize / 2;
  std::memcpy(spectrumBuffer, FullSpectrum(), sizeof(float) * count);
  return count;
}

}  // namespace QUORLAX
