// Detection in one multi-tone band, shared by every multi-tone decoder: tone
// ranking and front-door search per hop, then per token window the tone
// statistics, the vote and the token decision. The block ring itself belongs
// to the decoder; this object keeps the band's bins, its read position and
// its per-slot records.
#pragma once

#include <vector>

#include "MultiToneBand.h"

namespace QUORLAX {

class Decoder;

// Statistics of one frame (hop) of the block ring.
struct sTokenProbs {
  int idxToken;
  float energyRatioToken;
  int idxToneMax;
  int idxToneSecond;
  float energyRatioToneMax;
  float energyRatioToneSecond;
  float energyToken;
};

class MultiToneDetector {
 public:
  static constexpr int kNumTones = MultiToneBand::kNumTones;

  MultiToneDetector(const MultiToneBand& band, int blockSlots);

  // Level of each tone above the band's mean on one spectrum, in dB.
  void ComputeStartStats(const float* spectrum, float* energyRatios) const;
  // Ranks the tones of `spectrum` and records the two strongest at `slot`.
  void RankStartTones(const float* spectrum, int slot);
  // True when the block ring (up to writePos) holds both front-door tokens;
  // the read position then moves to writePos.
  bool SearchFrontDoor(const Decoder& d, int writePos);
  // Per-frame tone statistics of the token window at readPos for message token `ordinal`.
  void ComputeWindowStats(const Decoder& d, int ordinal);
  // Votes over the window and returns the token; adds the window's energy
  // ratio and energy means to *confidence and *volume.
  int DecideToken(const Decoder& d, float* confidence, float* volume);

  MultiToneBand band;
  int toneBins[kNumTones];
  int beginBin;  // band level is measured over beginBin..endBin
  int endBin;
  int shiftBins[MultiToneBand::kMaxShifts];
  int frontDoorTone1;  // the tone each front-door token sounds
  int frontDoorTone2;
  int readPos;                      // block-ring read position of this band
  std::vector<int> strongestTone;   // per slot: search ranking, then window maxima
  std::vector<int> secondTone;
  std::vector<int> windowMaxTone;
  std::vector<int> windowSecondTone;
  std::vector<sTokenProbs> stats;
  int toneVotes[kNumTones];
};

}  // namespace QUORLAX
