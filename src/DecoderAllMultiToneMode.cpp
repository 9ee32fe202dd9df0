#include "DecoderAllMultiToneMode.h"

#include "Globals.h"

namespace QUORLAX {

namespace {
constexpr int kBands[] = {Globals::DECODING_MODE_AUDIBLE, Globals::DECODING_MODE_NONAUDIBLE,
                          Globals::DECODING_MODE_COMPRESSION};
}

DecoderAllMultiTone::DecoderAllMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensAll, Globals::numTonesAll) {
  for (int mode : kBands) AddBand(MultiToneBand::Make(mode, samplingRate, windowSize));
}

bool DecoderAllMultiTone::Supports(float samplingRate, int windowSize) {
  for (int mode : kBands)
    if (!MultiToneBand::Make(mode, samplingRate, windowSize).Fits()) return false;
  return true;
}

}  // namespace QUORLAX
