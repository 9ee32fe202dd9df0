// Multi-tone decoder of the nonaudible band.
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderNonAudibleMultiTone : public Decoder {
 public:
  DecoderNonAudibleMultiTone(float samplingRate, int buffSize, int windowSize);
};

}  // namespace QUORLAX
