// Multi-tone decoder of the custom band (grid above a caller-chosen base).
#pragma once

#include "Decoder.h"

namespace QUORLAX {

class DecoderCustomMultiTone : public Decoder {
 public:
  DecoderCustomMultiTone(float samplingRate, int buffSize, int windowSize);
  // Frequency of tone 0, and of the tone one step above the highest.
  float GetDecodingBeginFreq() override;
  float GetDecodingEndFreq() override;
};

}  // namespace QUORLAX
