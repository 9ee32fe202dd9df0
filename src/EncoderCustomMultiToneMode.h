// Multi-tone encoder of the custom band.
#pragma once

#include "Encoder.h"
#include "core/MultiToneBand.h"

namespace QUORLAX {

class EncoderCustomMultiTone : public Encoder {
 public:
  EncoderCustomMultiTone(float samplingRate, int buffsize, int windowSize);
  int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size, const char* melodyString,
                              int melodySize) override;

  const MultiToneBand mBand;
};

}  // namespace QUORLAX
