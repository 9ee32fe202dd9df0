#include "DecoderAllMultiToneMode.h"

#include "core/BandTable.h"

namespace QUORLAX {

DecoderAllMultiTone::DecoderAllMultiTone(float samplingRate, int buffSize, int windowSize)
    : Decoder(samplingRate, buffSize, windowSize, Globals::numTokensAll, Globals::numTonesAll) {
  std::vector<MultiToneBand> bands;
  for (const Globals::BandRow& row : Globals::bandTable)
    if (row.heardInModeAll) bands.push_back(MultiToneBand::Make(row.decodingMode, samplingRate, windowSize));
  AddBands(bands);
}

bool DecoderAllMultiTone::Supports(float samplingRate, int windowSize) {
  for (const Globals::BandRow& row : Globals::bandTable)
    if (row.heardInModeAll && !MultiToneBand::Make(row.decodingMode, samplingRate, windowSize).Fits()) return false;
  return true;
}

}  // namespace QUORLAX
