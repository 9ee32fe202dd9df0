#include "DecoderCompressionMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

DecoderCompressionMultiTone::DecoderCompressionMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensCompression, Globals::numTonesCompressionMultiTone) {
  AddBand(MultiToneBand::Make(Globals::DECODING_MODE_COMPRESSION, samplingRate, windowSize));
  mDecodingMode = Globals::DECODING_MODE_COMPRESSION;
}

}  // namespace QUORLAX
