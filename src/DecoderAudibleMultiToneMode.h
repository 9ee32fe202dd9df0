// Multi-tone decoder of the audible band.
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderAudibleMultiTone : public Decoder {
 public:
  DecoderAudibleMultiTone(float samplingRate, int buffSize, int windowSize);
};

}  // namespace QUORLAX
