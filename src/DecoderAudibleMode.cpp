#include "DecoderAudibleMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderAudible::DecoderAudible(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensAudible, Globals::numTokensAudible) {
  UseSingleTone(kAudibleSingleToneGrid);
}

bool DecoderAudible::Supports(float samplingRate, int windowSize) {
  return SingleToneDetector::Supports(kAudibleSingleToneGrid, samplingRate, windowSize);
}

}  // namespace QUORLAX
