#include "EncoderNonAudibleMode.h"

#include "Globals.h"
#include "core/SingleToneGrid.h"

namespace QUORLAX {

EncoderNonAudible::EncoderNonAudible(float samplingRate, int buffsize, int windowSize)
    : Encoder(samplingRate, buffsize, windowSize, Globals::numTokensNonAudible, Globals::numTokensNonAudible) {}

int EncoderNonAudible::EncodeDataToAudioBuffer(const char* stringToEncode, int type, int size,
                                        const char* melodyString, int melodySize) {
  return EncodeSingleTone(kNonAudibleSingleToneGrid, stringToEncode, type, size, melodyString, melodySize);
}

}  // namespace QUORLAX
