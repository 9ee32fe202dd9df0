#include "EncoderCustomMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

EncoderCustomMultiTone::EncoderCustomMultiTone(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensCustom, Globals::numTonesCustomMultiTone),
      mBand(MultiToneBand::Make(Globals::DECODING_MODE_CUSTOM, samplingRate, windowSize)) {}

int EncoderCustomMultiTone::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                                     const char* melodyString, int melodySize) {
  return EncodeMultiTone(mBand, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
