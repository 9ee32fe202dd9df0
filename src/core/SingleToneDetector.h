// Detection of the single-tone grids, one token per tone, shared by the
// single-tone decoders: token ranking and front-door search per hop, then per
// token window a de-reverberation of the spectra, a penalty for the tokens
// just read, and a vote. It reads the spectra through a SpectraView and owns
// its bins and per-slot records; ring positions and the token clock belong to
// the caller.
#pragma once

#include <vector>

#include "core/SingleToneGrid.h"
#include "core/SpectraRing.h"
#include "core/SpectraView.h"

namespace QUORLAX {

class SingleToneDetector {
 public:
  SingleToneDetector(const SingleToneGrid& grid, float samplingRate, int windowSize, int slots);

  // True when every bin the detection reads lies inside the spectrum.
  static bool Supports(const SingleToneGrid& grid, float samplingRate, int windowSize);

  // Level of each token above the band mean on one spectrum, in dB. False,
  // with the ratios untouched, when the band holds no energy.
  bool ComputeStartStats(const float* spectrum, float* energyRatios) const;
  // Records the two strongest tokens of `spectrum` at `slot` (-1: none).
  void RankStartHop(const float* spectrum, int slot);
  // True when the N slots from *readPos hold the front door; the search
  // moves *readPos forward, and to writePos on success.
  bool SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const;

  // Mean over the H frames from firstSlot of the band sums over bins
  // mid - width .. mid + width - 1 (below nbins, and within the bins the
  // ring holds); appends each frame's sum.
  float BlockSums(const SpectraView& ring, int firstSlot, int midFreqBin, int width, int nbins,
                  std::vector<float>& sumPerFrame) const;
  // Attenuates, in place, each token's bins in the window at firstSlot where
  // they hold mostly the previous window's tail.
  void DeReverb(const SpectraView& ring, int firstSlot, int nbins, const int* freqsBins);
  // Per frame of the window at firstSlot, the strongest token, with the
  // tokens just read (`decoded`, front door first) handicapped.
  void ComputeWindowStats(const SpectraView& ring, int firstSlot, const std::vector<int>& decoded);
  // De-reverberates and measures the window at firstSlot, then votes; -1
  // while fewer than H frames lie between firstSlot and writePos.
  int DecideToken(const SpectraView& ring, int firstSlot, int writePos, const std::vector<int>& decoded);

  // The bins detection reads of a spectrum of specSize bins, the
  // de-reverberation bands included.
  SpectraRing::Range ReadRange(int specSize) const;

  int numTokens;
  std::vector<int> tokenBins;  // bin of each token
  int beginBin;                // band level is measured over beginBin..endBin
  int endBin;
  int deReverbWidth;           // half-width of a token's de-reverberation band, bins
  int deReverbBins;            // bin limit of the de-reverberation sums (the spectrum size)
  bool fits;                   // every bin read lies inside the spectrum; otherwise nothing is detected
  int frontDoorToken1;
  int frontDoorToken2;
  std::vector<int> strongestToken;  // per slot: search ranking, then window maxima
  std::vector<int> secondToken;
  std::vector<int> tokenVotes;

 private:
  std::vector<float> energyRatios_;  // per token, scratch
  std::vector<float> sumPerFrame_;   // de-reverberation sums, sized once
};

}  // namespace QUORLAX
