#include "DecoderNonAudibleMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderNonAudible::DecoderNonAudible(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensNonAudible, Globals::numTokensNonAudible) {
  UseSingleTone(kNonAudibleSingleToneGrid);
}

bool DecoderNonAudible::Supports(float samplingRate, int windowSize) {
  return SingleToneDetector::Supports(kNonAudibleSingleToneGrid, samplingRate, windowSize);
}

}  // namespace QUORLAX
