// The token read of one band: over one token window of the block ring, each
// frame's two strongest tones at the token's shift step, the vote, and the
// token decision. Nothing of it is kept between reads: the per-frame records
// go to the caller's scratch.
#pragma once

#include "core/SpectraView.h"
#include "core/Arena.h"
#include "core/BandGeometry.h"

namespace QUORLAX {

// Statistics of one frame (hop) of a token window.
struct sTokenProbs {
  int idxToken;
  float energyRatioToken;
  int idxToneMax;
  int idxToneSecond;
  float energyRatioToneMax;
  float energyRatioToneSecond;
  float energyToken;
};

// Outcome of one token window: the token and the means over the window of
// the energy ratio (dB) and energy of the frames that voted for it.
struct TokenDecision {
  int token;
  float energyRatio;
  float energy;
  int agreeing;     // frames whose two strongest tones name the token
  float toneLevel;  // mean three-bin energy of its tones in those frames
};

// Reads the token window of N/2 slots from firstSlot, measured with the
// shift step of message token `ordinal` (1..18). `frames` receives the N/2
// per-frame records. The decoders read rows of bins, with the band's levels
// summed in double precision as the protocol's figures are.
TokenDecision ReadToken(const BandGeometry& geometry, const SpectraView& ring, int firstSlot, int ordinal,
                        sTokenProbs* frames);

}  // namespace QUORLAX
