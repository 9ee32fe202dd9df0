// A sender that renders its transmission on demand, a block at a time, for
// callers that cannot hold the encoder's ten-second buffer (audio callbacks,
// microcontrollers). Its samples are the encoder's, bit for bit. All of its
// state is inside the object: a few kilobytes, no heap.
#pragma once

#include "core/MultiToneBand.h"
#include "ReedSolomon.h"
#include "core/MultiToneSynth.h"

namespace QUORLAX {

class Sender {
 public:
  // The configuration must pass modes::Check.
  Sender(int mode, float sampleRate, float customBaseHz, int customSeparation);

  // 0, or -4 unless `text` is 9 alphabet characters and a zero byte.
  int Start(const char* text);
  // Samples written (at most count), 0 at the end or before a Start.
  int Render(float* out, int count) { return synth_.Render(out, count); }
  int TotalSamples() const { return synth_.TotalSamples(); }

 private:
  ReedSolomon codec_;
  MultiToneSynth synth_;
};

}  // namespace QUORLAX
