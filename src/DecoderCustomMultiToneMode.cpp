#include "DecoderCustomMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderCustomMultiTone::DecoderCustomMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensCustom, Globals::numTonesCustomMultiTone) {
  AddBand(MultiToneBand::Make(Globals::DECODING_MODE_CUSTOM, samplingRate, windowSize));
  mDecodingMode = Globals::DECODING_MODE_CUSTOM;
}

float DecoderCustomMultiTone::GetDecodingBeginFreq() { return mBands[0].band.toneHz[0]; }

float DecoderCustomMultiTone::GetDecodingEndFreq() { return mBands[0].band.nextToneHz; }

}  // namespace QUORLAX
