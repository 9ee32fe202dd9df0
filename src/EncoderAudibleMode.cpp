#include "EncoderAudibleMode.h"

#include "Globals.h"
#include "core/SingleToneGrid.h"

namespace QUORLAX {

EncoderAudible::EncoderAudible(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensAudible, Globals::numTokensAudible) {}

int EncoderAudible::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                        const char* melodyString, int melodySize) {
  return EncodeSingleTone(kAudibleSingleToneGrid, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
