// Multi-tone decoder of the compression band.
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderCompressionMultiTone : public Decoder {
 public:
  DecoderCompressionMultiTone(float samplingRate, int buffSize, int windowSize);
};

}  // namespace QUORLAX
