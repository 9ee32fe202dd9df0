// The block ring of a decoder or listener: one row per hop holding only the
// bins its detectors read. Each detector's range of bins is kept with the FFT
// kernels' margin on both sides (the transform writes whole vectors), runs
// that meet are merged, and the runs sit one after another in a row; the
// transform writes each hop's energies straight into its row.
#pragma once

#include <vector>

#include "SpectraView.h"

namespace QUORLAX {

class SpectraRing {
 public:
  struct Range {
    int lo, hi;  // bins read, inclusive; lo > hi: none
  };

  // `slots` rows for a spectrum of specSize bins.
  SpectraRing(int slots, int specSize, int toleranceFrames, const std::vector<Range>& ranges);

  // The rows as detector `range` reads them, indexed by bin.
  SpectraView View(int range) const;
  // The row of `slot`, as the transform's plan places bins in it.
  float* Row(int slot) { return data_ + static_cast<long>(slot % slots_) * stride_; }
  // Place of each bin in a row, -1 for bins no one reads (the transform's plan).
  const int* Offsets() const { return offsets_.data(); }
  int Stride() const { return stride_; }
  int Slots() const { return slots_; }

 private:
  int slots_, specSize_, tolerance_, stride_ = 0;
  std::vector<float> store_;
  float* data_ = nullptr;  // row 0; every view's base lies within store_
  std::vector<int> offsets_;
  struct Run {
    int first, last;  // stored bins of the run holding a range
  };
  std::vector<Range> ranges_;
  std::vector<Run> runs_;
};

}  // namespace QUORLAX
