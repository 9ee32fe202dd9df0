// The decoders' front-door search of one band: per slot of the block ring,
// the two strongest tones of that hop. Its per-slot arrays come from an
// Arena, so it lives wherever its owner does.
#pragma once

#include "core/SpectraView.h"
#include "core/Arena.h"
#include "core/BandGeometry.h"

namespace QUORLAX {

class DoorSearch {
 public:
  // For `slots` slots of the band `geometry` (which must outlive the search).
  DoorSearch(const BandGeometry& geometry, int slots, Arena& arena);
  DoorSearch() = default;  // searches nothing until assigned

  // Ranks the tones of `spectrum` and records the two strongest at `slot`;
  // -1 where the frame names no tone.
  void RankTones(const float* spectrum, int slot);
  // True when the N slots from firstSlot hold both front-door tokens: the
  // first half the first token, the second half the second.
  bool FrontDoorAt(const SpectraView& ring, int firstSlot) const;
  // Slides *readPos forward while the ring (up to writePos) is full, looking
  // for a front door; on success *readPos = writePos.
  bool SearchFrontDoor(const SpectraView& ring, int writePos, int* readPos) const;
  // Forgets every ranking (a new stream).
  void Clear();

  // The recorded ranking of a slot (-1: none).
  int Strongest(int slot) const { return strongest_[slot]; }
  int Second(int slot) const { return second_[slot]; }
  // The per-slot rankings as arrays, for the decoders' block-ring members.
  int* StrongestArray() { return strongest_; }
  int* SecondArray() { return second_; }
  // For tests of the search alone: records a ranking as RankTones would.
  void Record(int slot, int strongest, int second) {
    strongest_[slot] = strongest;
    second_[slot] = second;
  }
  int Slots() const { return slots_; }

 private:
  // Records the two strongest of the nine three-bin sums `t` at `slot`, with
  // the band mean and level arithmetic of `levels`.
  template <class Levels>
  void Rank(const float* t, const Levels& levels, int slot);

  const BandGeometry* geometry_ = nullptr;
  int slots_ = 0;
  int* strongest_ = nullptr;  // per slot
  int* second_ = nullptr;
};

}  // namespace QUORLAX
