#include "EncoderNonAudibleMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

EncoderNonAudibleMultiTone::EncoderNonAudibleMultiTone(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensNonAudible, Globals::numTonesNonAudibleMultiTone),
      mBand(MultiToneBand::Make(Globals::DECODING_MODE_NONAUDIBLE, samplingRate, windowSize)) {}

int EncoderNonAudibleMultiTone::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                                     const char* melodyString, int melodySize) {
  return EncodeMultiTone(mBand, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
