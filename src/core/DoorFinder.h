// The listener's front-door search in one band, for a sender that may be off
// in pitch. Every hop it tests every offset of the grid within the search
// range (one hypothesis per bin of the door's first tone) with soft sums:
// over the older token of the last two, the first door tone's level above
// the band; over the newer token, the second's. The best alignment of an
// offset that passes is then checked for the door's shape (each token's tone
// stands clear of the other tones of the grid at that offset) and measured:
// the offset to a fraction of a bin from the peaks of both door tones, and
// the boundary between the two door tokens from where one tone gives way to
// the other. Per hop it costs a few sliding sums per offset; the checks run
// only while a door is in sight. It keeps the bins it reads of the last
// hops in 8 bits each, in the band's mean level of their hop (single::Pack8:
// within 6 %, 2^-15 to 61440 band means), the checks' only view of the past
// spectra.
#pragma once

#include <cstdint>

#include "core/Arena.h"
#include "core/BandGeometry.h"

namespace QUORLAX {

// A front door as the search measured it.
struct DoorSighting {
  int grid;         // which of the senders' grids it was sent on
  float scale;      // received tone frequencies over that grid's (1.02: 2 % high)
  long long frame;  // the window centred on the boundary between the door's tokens is
  float after;      // this many frames after frame `frame` (fractional, 0 or more)
};

class DoorFinder {
 public:
  // Offsets up to +-maxOffset (0.021: 2.1 %) of the band `geometry` (which
  // must outlive the search), for a ring of `slots` slots, tokens of `half`
  // frames (2 * half <= slots) and analysis windows `windowFrames` hops long;
  // senders' grids `gridHz` (`grids` of them, the tone frequencies of each,
  // this rate's first; see MultiToneBand::kSenderGrids).
  // With `anyGrid`, its arrays take the room any grid of the spectrum could
  // need (a custom listener's block serves every grid it is given).
  DoorFinder(const BandGeometry& geometry, const float (*gridHz)[BandGeometry::kNumTones], int grids, int slots,
             int half, int windowFrames, float maxOffset, bool anyGrid, Arena& arena);
  DoorFinder() = default;  // finds nothing until assigned

  // `spectrum` (power per bin) is frame `frame`'s. True when a door has just
  // been accepted (its sighting in *door): once per door, some frames after
  // its best alignment.
  bool Add(const float* spectrum, long long frame, DoorSighting* door);
  // Forgets everything (a new stream).
  void Clear();
  // A door is in sight and not yet accepted or dismissed.
  bool Watching() const { return open_; }
  int Offsets() const { return offsets_; }
  // Every sliding sum is a number, and none has drifted below zero (for the
  // listener's hardened checks).
  bool SumsSane() const;

 private:
  // A bin's power in band means, at most `most`.
  float Value(long long frame, int bin, float most) const;
  // Works out the offsets and the bins kept for this grid; false when none fit.
  bool Plan(const float (*gridHz)[BandGeometry::kNumTones], int grids, float maxOffset);
  float Scale(int k) const;
  int BinAt(int tone, int k) const;
  // Keeps frame `frame`'s bins, and its levels at the first and the second
  // door tone of every offset in integer steps (see DoorFinder.cpp), in its slot.
  void Store(const float* spectrum, long long frame);
  // The door's shape at offset `k` with `newest` the newest frame; true (and
  // the measurements in *door) when it holds.
  bool Examine(long long newest, int k, DoorSighting* door) const;

  const BandGeometry* geometry_ = nullptr;
  int slots_ = 0, half_ = 0, windowFrames_ = 0;
  int examineEvery_ = 1;  // frames between examinations of one door
  int lowOffset_ = 0;  // bins of the first door tone's hypothesis 0 from its grid bin
  int levelFirst_ = 0, levelLast_ = -1;  // the bins the band's level is the mean of
  // The bins kept of each frame: runs around the tones, side by side in a row.
  struct Run {
    int first, count, at;  // bins first.., at `at` in the row
  };
  Run runs_[BandGeometry::kNumTones] = {};
  int runCount_ = 0, rowBins_ = 0;
  int span_ = 0;            // bins from ringFirst_ to the highest kept
  int ringFirst_ = 0;       // the lowest bin kept
  short* place_ = nullptr;  // per bin from ringFirst_: where it is in a row (-1: not kept)
  int offsets_ = 0;
  float toneBin_[BandGeometry::kNumTones] = {};  // exact (fractional) bin of each grid tone
  int grids_ = 0;
  float gridBin1_[MultiToneBand::kSenderGrids] = {}, gridBin2_[MultiToneBand::kSenderGrids] = {};  // each senders' grid's door tones, in bins
  int* bin2_ = nullptr;     // per offset: the second door tone's bin
  int* older_ = nullptr;  // per offset: first door tone summed over the older token
  int* newer_ = nullptr;  // per offset: second door tone summed over the newer token
  short* firstSteps_ = nullptr;   // per slot and offset: the first door tone's level, in steps
  short* secondSteps_ = nullptr;  // the same for the second door tone
  float* inverseLevel_ = nullptr;  // per slot: 1 / the band's mean level (0: no energy)
  std::uint8_t* ring_ = nullptr;  // per slot: a row of the bins kept, in band means (single::Pack8)
  // A door in sight: the best alignment so far and what it measured.
  bool open_ = false;
  long long openFrame_ = 0, peakFrame_ = 0, examinedFrame_ = 0, quietUntil_ = 0;
  int peakScore_ = 0;
  int passedScore_ = 0;  // of the alignment that last passed the examination
  bool haveBest_ = false;
  DoorSighting best_{};
};

}  // namespace QUORLAX
