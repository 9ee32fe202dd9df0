#include "DecoderNonAudibleMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderNonAudibleMultiTone::DecoderNonAudibleMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensNonAudible, Globals::numTonesNonAudibleMultiTone) {
  AddBand(MultiToneBand::Make(Globals::DECODING_MODE_NONAUDIBLE, samplingRate, windowSize));
  mDecodingMode = Globals::DECODING_MODE_NONAUDIBLE;
}

}  // namespace QUORLAX
