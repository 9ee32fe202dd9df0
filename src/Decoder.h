// Base of every decoder: the sample ring that captured audio is pushed into,
// one spectrum per hop kept in the block ring (only the bins the detectors
// read), the driving loop that turns hops into events, the Reed-Solomon
// read-out and the confidence figures. The detection plugs in: multi-tone
// bands (their geometry, door search and token read), or one
// SingleToneDetector. Detectors see the block ring through a SpectraView; the
// analysis slots forward to whichever is set.
//
// ---- Kept for the specified interface --------------------------------------
// The virtual slots (in their order) and the members named in the m... style
// (mSampleRate ... mReceivedZunsVolume, mBlockEnergyRatiosTokenIdx, ...) are
// the decoder's class interface and must keep their names and meaning; the
// streaming events they produce are checked bit for bit. Ours to change: the
// multi-tone bands (mBands, the door searches, the frame records) and the
// private helpers, which live on the engine in core/.
// ---------------------------------------------------------------------------
#pragma once

#include <memory>
#include <vector>

#include "ReedSolomon.h"
#include "core/SingleToneDetector.h"
#include "core/SpectraRing.h"
#include "SpectralAnalysis.h"
#include "core/Arena.h"
#include "core/BandGeometry.h"
#include "core/DoorSearch.h"
#include "core/TokenRead.h"

namespace QUORLAX {

class Decoder {
 public:
  Decoder(float samplingRate, int buffSize, int windowSize, int numTokens, int numTones);
  virtual ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Pushes `size` samples and runs hops until the first event: -1 more audio,
  // -2 front door, 0..31 a token, -3 message complete. -4 null buffer with a
  // positive size or a negative size; -6 more than the free ring space.
  virtual int DecodeAudioBuffer(float* audioBuffer, int size);
  // +9 / -9 with the 9 characters after -3; -1 (empty text) otherwise.
  virtual int GetDecodedData(char* stringDecoded);
  virtual float GetDecodingBeginFreq();
  virtual float GetDecodingEndFreq();
  virtual int AnalyzeStartTokens(float* audioBuffer);
  virtual int AnalyzeToken(float* audioBuffer);
  virtual int ComputeStatsStartTokens();
  virtual int ComputeStats();
  virtual int DeReverbToken(const int nbins, int* freqsBins);
  virtual float ComputeBlockMagSpecSumsCurrentToken(int midFreqBin, int width, int nbins,
                                                    std::vector<float>& sumPerFrame);
  virtual float ComputeBlockMagSpecSumsLastToken(int midFreqBin, int width, int nbins,
                                                 std::vector<float>& sumPerFrame);

  int getSizeFilledFrameCircularBuffer() const;
  int getSizeFilledBlockCircularBuffer() const;
  int getSizeFilledBlockCircularBuffer(int mode) const;

  float GetConfidence() const;
  float GetConfidenceError() const;
  float GetConfidenceNoise() const;
  float GetReceivedZunsVolume() const;
  int GetDecodedMode() const;
  int GetSpectrum(float* spectrumBuffer) const;

  // The block ring as detector `detector` sees it (a band of mBands, or the
  // single-tone detector at 0).
  SpectraView Spectra(int detector = 0) const;

  // Token decision in band `mode` (index into mBands) for one hop.
  int AnalyzeToken(float* audioBuffer, int mode);

  // Configuration and state.
  float mSampleRate;
  int mBufferSize;
  int mDecoding;      // 0 searching, 1..18 the message token being read
  int mDecodingMode;  // band heard, Globals::DECODING_MODE, -1 unknown
  char mDecodedString[30];
  SpectralAnalysis* mSpectralAnalysis;

  // Frame ring (samples). Its first window of samples is repeated after its
  // end, so that every frame can be analysed where it lies.
  int mReadPosInFrameCircularBuffer;
  int mWritePosInFrameCircularBuffer;
  int mSizeFrameCircularBuffer;
  float* mCircularBufferFloat;
  int mWindowSize;
  int mHopSize;

  int mNumTokens;
  int mNumTones;
  float mFreq2Bin;
  int* mFreqsBins;  // single-tone decoders: bin of each token (a copy of the detector's)
  int mBinWidth;
  int mSizeTokenBinAnal;
  float* mEvalTokenMags;
  int mBeginBin;
  int mEndBin;
  int idxFrontDoorToken1;
  int idxFrontDoorToken2;
  float* mEnergyRatios;

  // Block ring (one slot per hop).
  int mReadPosInBlockCircularBuffer;
  int mWritePosInBlockCircularBuffer;
  int mSizeBlockCircularBuffer;
  int mnToleranceFrames;
  std::unique_ptr<SpectraRing> mBlockRing;
  // Views of the first detector's records: per slot the strongest and second
  // candidate (tones, or single-tone tokens), and the single-tone votes.
  int* mBlockEnergyRatiosTokenIdx;
  int* mBlockEnergyRatiosTokenIdx2;
  int* mTokenRepetitions;
  int mEndStartTokenPosInBlockCircularBuffer;
  double mAccumulatedDecodingFrames;

  // Message and confidence.
  int mMessageLength;
  ReedSolomon* mReedSolomon;
  std::vector<int> mDecodedValues;
  int* mDecodedValuesOrig;
  std::vector<float> mSumPerFrame;
  float mConfidenceEnergyRatios;
  float mConfidenceCorrection;
  float mReceivedZunsVolume;

  // Multi-tone bands searched in this order; the first that passes wins.
  std::vector<BandGeometry> mBands;
  std::vector<int> mReadPosInBlockCircularBufferArray;  // per band, in slots
  int mActiveBand;  // index into mBands of the message being read
  // Single-tone detection, for decoders with no multi-tone band.
  std::unique_ptr<SingleToneDetector> mSingleTone;

  // The front-door search of band `band` (index into mBands).
  const DoorSearch& Doors(int band) const { return mDoorSearches[band]; }
  // Per-frame records of the last token window read.
  const sTokenProbs* FrameStats() const { return mFrameStats.data(); }

 protected:
  // Adds bands (searched in this order); the decoder reports
  // band.decodingMode for each. Add them all at once: the block ring is laid
  // out for the bands there are.
  void AddBands(const std::vector<MultiToneBand>& bands);
  void AddBand(const MultiToneBand& band) { AddBands({band}); }
  // Makes this a single-tone decoder of `grid`.
  void UseSingleTone(const SingleToneGrid& grid);
  // Computes the spectrum of `frame` and stores it in the next block slot
  // (without advancing the write position).
  void AnalyzeFrame(const float* frame);
  // The whole spectrum of the last frame analysed, in mSpectralAnalysis->mSpecMag.
  const float* FullSpectrum() const;
  void AdvanceBlockWrite();
  // Starts the token clock at the write position (a front door was found).
  void StartTokenClock();
  // Moves the token clock by one token and returns the new read position.
  int AdvanceTokenClock();
  // Read-out shared by all decoders; `trackCorrection` sets mConfidenceCorrection.
  int ReadOutMessage(char* stringDecoded, bool trackCorrection);

 private:
  void ReleaseArrays();
  void BuildBlockRing();
  // Copies samples into the frame ring at the write position.
  void WriteFrames(const float* samples, int size);

  // The last frame analysed, while its whole spectrum is still to be computed.
  mutable const float* mPendingFrame = nullptr;
  // Per band of mBands; their arrays and the block ring's live in mArrays.
  std::vector<DoorSearch> mDoorSearches;
  std::vector<sTokenProbs> mFrameStats;  // one token window
  ArenaBlock mArrays;
};

}  // namespace QUORLAX
