// Single-tone decoder of the audible grid: one tone per token, with
// reverberation-aware detection. Built through the class interface only.
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderAudible : public Decoder {
 public:
  // The configuration must satisfy Supports(); others decode nothing.
  DecoderAudible(float samplingRate, int buffSize, int windowSize);

  static bool Supports(float samplingRate, int windowSize);
};

}  // namespace QUORLAX
