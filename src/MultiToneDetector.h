// Detection in one multi-tone band, shared by every multi-tone decoder and the
// listener: tone ranking and front-door search per hop, then per token window
// the tone statistics, the vote and the token decision. It reads the spectra
// through a SpectraView and owns only its band's bins and per-slot records;
// ring positions and the token clock belong to the caller.
#pragma once

#include <vector>

#include "MultiToneBand.h"
#include "SpectraRing.h"
#include "SpectraView.h"

namespace QUORLAX {

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

  // Outcome of one token window: the token and the means over the window of
  // the energy ratio (dB) and energy of the frames that voted for it.
  struct Decision {
    int token;
    float energyRatio;
    float energy;
    int agreeing;     // frames whose two strongest tones name the token
    float toneLevel;  // mean three-bin energy of its tones in those frames
  };

  MultiToneDetector(const MultiToneBand& band, int slots, int specSize);

  // Level of each tone above the band's mean on one spectrum, in dB. False,
  // with the ratios untouched, when the band holds no energy. With `level`,
  // also the band's sum in double precision.
  bool ComputeStartStats(const float* spectrum, float* energyRatios, double* level = nullptr) const;
  // Ranks the tones of `spectrum` and records the two strongest at `slot`;
  // -1 where the frame names no tone.
  void RankStartTones(const float* spectrum, int slot);
  // The same for a search that runs at every hop (the listener): also keeps
  // the counts of DoorInNewest for the N slots that end at `slot`, updated as
  // they slide, and forgets the band's level of the slot's old spectrum.
  void RankAndSlide(const float* spectrum, int slot);
  // FrontDoorAt for the N most recent slots that RankAndSlide recorded.
  bool DoorInNewest(const SpectraView& ring) const;
  // Forgets every ranking and level (a new stream).
  void Clear();
  // True when the N slots from firstSlot hold both front-door tokens: the
  // first half the first token, the second half the second.
  bool FrontDoorAt(const SpectraView& ring, int firstSlot) const;
  // Slides *readPos forward while the ring (up to writePos) is full, looking
  // for a front door; on success *readPos = writePos.
  bool SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const;

  // Per-frame tone statistics of the token window at firstSlot, measured with
  // the shift step of message token `ordinal` (1..18). The band level comes
  // from the spectra, or, with `keptLevels`, from each slot's own level, kept
  // for the readers that share it since RankAndSlide recorded the slot (the
  // same sums, added frame by frame).
  void ComputeWindowStats(const SpectraView& ring, int firstSlot, int ordinal, bool keptLevels = false);
  // Votes over the window that ComputeWindowStats measured.
  Decision DecideToken(const SpectraView& ring, int firstSlot);

  // The bins this band reads of a spectrum (none when it does not fit).
  SpectraRing::Range ReadRange() const;

  MultiToneBand band;
  bool fits;  // every bin read lies inside the spectrum; otherwise nothing is detected
  int toneBins[kNumTones];
  int beginBin;  // band level is measured over beginBin..endBin
  int endBin;
  int shiftBins[MultiToneBand::kMaxShifts];
  int frontDoorTone1;  // the tone each front-door token sounds
  int frontDoorTone2;
  std::vector<int> strongestTone;  // per slot: the search ranking
  std::vector<int> secondTone;
  std::vector<int> windowMaxTone;  // per slot: the token window's maxima
  std::vector<int> windowSecondTone;
  std::vector<sTokenProbs> stats;
  std::vector<double> slotLevel;  // per slot: sum of the band's bins, once a window needed it
  std::vector<char> levelKept;    // per slot: slotLevel holds the current spectrum's
  int slideFirst = 0;   // of the N newest slots: older half ranking the first door tone first
  int slideSecond = 0;  // newer half ranking the second door tone first or second
  int toneVotes[kNumTones];

 private:
  // Band mean of one spectrum in single precision (and the band's sum in
  // double when `level` is given); false when the band holds no energy.
  bool StartLevel(const float* spectrum, float* energyBlock, double* level) const;
  void RankTones(const float* spectrum, int slot);
  // slotLevel of a slot of the ring, summed on first use.
  double LevelAt(const SpectraView& ring, int slot);
};

}  // namespace QUORLAX
