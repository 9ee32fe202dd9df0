#include "EncoderCompressionMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

EncoderCompressionMultiTone::EncoderCompressionMultiTone(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensCompression, Globals::numTonesCompressionMultiTone),
      mBand(MultiToneBand::Make(Globals::DECODING_MODE_COMPRESSION, samplingRate, windowSize)) {}

int EncoderCompressionMultiTone::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                                     const char* melodyString, int melodySize) {
  return EncodeMultiTone(mBand, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
