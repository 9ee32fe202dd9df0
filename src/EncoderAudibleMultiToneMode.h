// Multi-tone encoder of the audible band.
#pragma once

#include "Encoder.h"
#include "core/MultiToneBand.h"

namespace QUORLAX {

class EncoderAudibleMultiTone : public Encoder {
 public:
  EncoderAudibleMultiTone(float samplingRate, int buffsize, int windowSize);
  int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size, const char* melodyString,
                              int melodySize) override;

  const MultiToneBand mBand;
};

}  // namespace QUORLAX
