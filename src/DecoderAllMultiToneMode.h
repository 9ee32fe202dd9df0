// Listens to the audible, non-audible and compression bands at once from one
// spectrum per hop, reads a transmission in the band that carried its front
// door, and reports that band through GetDecodedMode (-1 before the first).
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderAllMultiTone : public Decoder {
 public:
  DecoderAllMultiTone(float samplingRate, int buffSize, int windowSize);

  // True when every band it hears fits the spectrum at this rate and window.
  static bool Supports(float samplingRate, int windowSize);
};

}  // namespace QUORLAX
