// The sound of one multi-tone transmission, rendered on demand: token by
// token, with the oscillators' phases carried from one token to the next.
// Every sample is computed the same way whatever the block sizes asked for,
// so the encoder (one call for the whole transmission) and the sender (a
// block at a time) give the same bits. Holds no heap memory.
#pragma once

#include "Globals.h"
#include "core/MultiToneBand.h"

namespace QUORLAX {

class MultiToneSynth {
 public:
  MultiToneSynth(const MultiToneBand& band, float sampleRate);

  // Starts the transmission of these 20 token values.
  void Start(const int* tokens);
  // Writes the next samples, at most `count`; returns how many (0 at the end).
  int Render(float* out, int count);
  // Samples of a whole transmission at this rate.
  int TotalSamples() const { return Globals::numTotalTokens * samplesPerToken_; }

 private:
  void BeginToken();

  MultiToneBand band_;
  float rate_;
  int samplesPerToken_;
  int tokens_[Globals::numTotalTokens] = {};
  int token_ = Globals::numTotalTokens;  // the token being rendered
  int at_ = 0;                           // its next sample
  double phase1_ = 0.0, phase2_ = 0.0;
  // The token being rendered.
  double step1_ = 0.0, step2_ = 0.0;
  float gains_[2] = {};
  float factor_ = 0.0f;
  int fadeBegin_ = 0, fadeEnd_ = 0, silentFrom_ = 0, holdUntil_ = 0, audibleUntil_ = 0;
  bool twoTones_ = false;
};

}  // namespace QUORLAX
