// Multi-tone encoder of the nonaudible band.
#pragma once

#include "Encoder.h"
#include "core/MultiToneBand.h"

namespace QUORLAX {

class EncoderNonAudibleMultiTone : public Encoder {
 public:
  EncoderNonAudibleMultiTone(float samplingRate, int buffsize, int windowSize);
  int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size, const char* melodyString,
                              int melodySize) override;

  const MultiToneBand mBand;
};

}  // namespace QUORLAX
