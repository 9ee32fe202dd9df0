#include "EncoderAudibleMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

EncoderAudibleMultiTone::EncoderAudibleMultiTone(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensAudible, Globals::numTonesAudibleMultiTone),
      mBand(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, samplingRate, windowSize)) {}

int EncoderAudibleMultiTone::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                                     const char* melodyString, int melodySize) {
  return EncodeMultiTone(mBand, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
