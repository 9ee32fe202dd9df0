// Single-tone decoder of the non-audible (near-ultrasonic) grid: one tone per token, with
// reverberation-aware detection. Built through the class interface only.
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderNonAudible : public Decoder {
 public:
  // The configuration must satisfy Supports(); others decode nothing.
  DecoderNonAudible(float samplingRate, int buffSize, int windowSize);

  static bool Supports(float samplingRate, int windowSize);
};

}  // namespace QUORLAX
