// Base of every encoder: the ten-second output buffer and its drain position,
// the caller's audio signature, the Reed-Solomon codec, and the pieces of
// synthesis that every mode shares (frame, overlays).
#pragma once

#include <vector>

#include "ReedSolomon.h"

namespace QUORLAX {

struct MultiToneBand;
struct SingleToneGrid;

class Encoder {
 public:
  Encoder(float samplingRate, int buffsize, int windowSize, int numTokens, int numTones);
  virtual ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Synthesises one transmission into the output buffer and returns its
  // sample count; -4 (buffer untouched) for a message that is not 9 alphabet
  // characters or a melody that does not fit. The base does nothing.
  virtual int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                      const char* melodyString, int melodySize);

  // Copies a prefix of up to one transmission; null or size <= 0 removes it.
  int SetAudioSignature(int samplesSize, const float* samplesBuffer);
  // Copies up to mBufferSize samples into audioBuffer; 0 at the end.
  int GetEncodedAudioBuffer(float* audioBuffer);
  int ResetEncodedAudioBuffer();
  // The 20 token values sent for a valid 9-character message: front door,
  // message, check token, Reed-Solomon parity.
  std::vector<int> BuildFrame(const char* stringToEncode, int size);

  ReedSolomon* mReedSolomon;
  int mnAudioSignatureSamples;
  float* mAudioSignature;
  float* mAudioBufferEncodedString;
  int mNumTokens;
  int mNumTones;
  float mSampleRate;
  int mReadIndexEncodedAudioBuffer;
  int mNumMaxSamplesEncodedString;
  int mNumSamplesEncodedString;
  int mBufferSize;
  int mWindowSize;

 protected:
  // -4 unless the message and melody are acceptable; 0 otherwise.
  int ValidateRequest(const char* stringToEncode, int type, int size, const char* melodyString,
                      int melodySize) const;
  // Multi-tone synthesis of `digits` in `band`; clears the buffer first.
  void SynthesizeMultiTone(const MultiToneBand& band, const std::vector<int>& digits);
  // type 1: random gliding notes; type 2: the caller's melody.
  void AddSynth(int numNotes);
  void BlendMelody(const char* melodyString, int melodySize);
  void ApplySignature();
  // The whole multi-tone encoding call, shared by the four band classes.
  int EncodeMultiTone(const MultiToneBand& band, const char* stringToEncode, int type, int size,
                      const char* melodyString, int melodySize);
  // The same for the single-tone grids (no signature).
  int EncodeSingleTone(const SingleToneGrid& grid, const char* stringToEncode, int type, int size,
                       const char* melodyString, int melodySize);
};

}  // namespace QUORLAX
