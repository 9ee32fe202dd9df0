#include "DecoderAudibleMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderAudibleMultiTone::DecoderAudibleMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensAudible, Globals::numTonesAudibleMultiTone) {
  AddBand(MultiToneBand::Make(Globals::DECODING_MODE_AUDIBLE, samplingRate, windowSize));
  mDecodingMode = Globals::DECODING_MODE_AUDIBLE;
}

}  // namespace QUORLAX
