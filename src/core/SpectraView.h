// What a detector sees of a decoder's block ring: the recent spectra, one row
// per hop. Detectors read (and the single-tone de-reverberation attenuates)
// these rows; the positions in the ring belong to whoever drives them.
#pragma once

#include <cfloat>
#include <cmath>

namespace QUORLAX {

struct SpectraView {
  float* base;          // row of slot s: base + (s % slots) * stride, indexed by bin
  int stride;
  int slots;            // N: two token durations of hops
  int specSize;         // window / 2 + 1
  int toleranceFrames;  // frames of a token that may disagree in the front-door search
  int firstBin;         // the rows hold bins firstBin..lastBin only
  int lastBin;

  const float* Row(int slot) const { return base + static_cast<long>(slot % slots) * stride; }
  float* MutableRow(int slot) const { return base + static_cast<long>(slot % slots) * stride; }
  // Frames between a read and a write position.
  int Filled(int write, int read) const { return write >= read ? write - read : write - read + slots; }
};

// The one guard for bands that do not fit: every bin a detector reads must lie
// inside the spectrum, or it reads nothing at all.
inline bool BinsInside(int lowestRead, int highestRead, int specSize) {
  return lowestRead >= 0 && highestRead < specSize;
}

// A band holds no energy when its mean level is zero, denormal or not a
// number: digital silence, or audio that was never finite. Such a frame
// names no tone, so neither a front door nor a vote can come from it.
inline bool HasEnergy(double bandMean) { return std::isfinite(bandMean) && bandMean >= FLT_MIN; }
inline bool HasEnergy(float bandMean) { return std::isfinite(bandMean) && bandMean >= FLT_MIN; }

// The token clock: windows start at whole multiples of N / 2 frames after
// the slot where the clock started, rounded, so that an odd N does not drift.
// Advances *accumulatedFrames by one token and returns the next window's slot.
inline int NextTokenWindow(int startSlot, double* accumulatedFrames, int slots) {
  *accumulatedFrames += slots * 0.5;
  return (static_cast<int>(*accumulatedFrames + 0.5) + startSlot) % slots;
}
// The same in whole numbers: the window `tokens` tokens after the clock's
// start (k N / 2 rounded half up is (k N + 1) / 2).
inline int TokenWindowAfter(int startSlot, int tokens, int slots) {
  return ((tokens * slots + 1) / 2 + startSlot) % slots;
}

}  // namespace QUORLAX
