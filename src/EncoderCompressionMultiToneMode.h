// Multi-tone encoder of the compression band.
#pragma once

#include "Encoder.h"
#include "core/MultiToneBand.h"

namespace QUORLAX {

class EncoderCompressionMultiTone : public Encoder {
 public:
  EncoderCompressionMultiTone(float samplingRate, int buffsize, int windowSize);
  int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size, const char* melodyString,
                              int melodySize) override;

  const MultiToneBand mBand;
};

}  // namespace QUORLAX
