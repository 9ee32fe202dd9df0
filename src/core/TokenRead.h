// The token read of one band: over one token window of the block ring, each
// frame's two strongest tones at the token's shift step, the vote, and the
// token decision. Nothing of it is kept between reads: the per-frame records
// go to the caller's scratch, and the only state is the optional cache of the
// band's level per slot that the listener's readers share.
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

// Sum of the band's bins per slot, taken once for all the readers that need
// it while the slot holds the same spectrum.
class SlotLevels {
 public:
  SlotLevels(int slots, Arena& arena);
  SlotLevels() = default;
  void Forget(int slot) { kept_[slot] = 0; }
  void Clear();
  double At(const BandGeometry& geometry, const SpectraView& ring, int slot);

 private:
  int slots_ = 0;
  double* level_ = nullptr;
  char* kept_ = nullptr;
};

// Reads the token window of N/2 slots from firstSlot, measured with the
// shift step of message token `ordinal` (1..18). The band level comes from the
// spectra, or with `levels` from each slot's kept level (the same sums, added
// frame by frame). `frames` receives the N/2 per-frame records.
TokenDecision ReadToken(const BandGeometry& geometry, const SpectraView& ring, int firstSlot, int ordinal,
                        SlotLevels* levels, sTokenProbs* frames);

}  // namespace QUORLAX
