// The block ring of a decoder or listener: one row per hop holding only the
// bins its detectors read. Each detector's range of bins is kept with the FFT
// kernels' margin on both sides (the transform writes whole vectors), runs
// that meet are merged, and the runs sit one after another in a row; the
// transform writes each hop's energies straight into its row. Its arrays come
// from an Arena, so it lives wherever its owner does.
#pragma once

#include "core/SpectraView.h"
#include "core/Arena.h"

namespace QUORLAX {

class SpectraRing {
 public:
  struct Range {
    int lo, hi;  // bins read, inclusive; lo > hi: none
  };
  static constexpr int kMaxRanges = 4;

  // `slots` rows for a spectrum of specSize bins, read as `count` ranges
  // (at most kMaxRanges). With a counting arena only the size is worked out.
  SpectraRing(int slots, int specSize, int toleranceFrames, const Range* ranges, int count, Arena& arena);
  SpectraRing() = default;  // no rows

  // The rows as detector `range` reads them, indexed by bin.
  SpectraView View(int range) const;
  // The row of `slot`, as the transform's plan places bins in it.
  float* Row(int slot) { return data_ + static_cast<long>(slot % slots_) * stride_; }
  // Place of each bin in a row, -1 for bins no one reads (the transform's plan).
  const int* Offsets() const { return offsets_; }
  int Stride() const { return stride_; }
  int Slots() const { return slots_; }

 private:
  struct Run {
    int first, last;  // stored bins of the run holding a range
  };
  bool Kept(int bin) const;

  int slots_ = 1, specSize_ = 0, tolerance_ = 0, stride_ = 0, count_ = 0;
  Range ranges_[kMaxRanges] = {};
  Run runs_[kMaxRanges] = {};
  int* offsets_ = nullptr;
  float* data_ = nullptr;  // row 0; every view's base lies within the block
};

}  // namespace QUORLAX
