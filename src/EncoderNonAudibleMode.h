// Single-tone encoder of the non-audible (near-ultrasonic) grid.
#pragma once

#include "Encoder.h"

namespace QUORLAX {

class EncoderNonAudible : public Encoder {
 public:
  EncoderNonAudible(float samplingRate, int buffsize, int windowSize);
  // type 1 adds the synth overlay and type 2 the melody; the audio
  // signature is not mixed in.
  int EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size, const char* melodyString,
                              int melodySize) override;
};

}  // namespace QUORLAX
