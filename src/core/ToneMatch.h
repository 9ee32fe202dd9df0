// Tones measured where they are: the recent samples of a stream, and the
// energy of a few tones over any stretch of them, each at its exact
// frequency (one Goertzel filter per tone) through a window that is flat but
// for raised-cosine edges. Over a whole token this comes within a decibel of
// a matched filter, some 4 dB more than summing the analysis frames' bins,
// and a tone between bins (a sender that is off in pitch) loses nothing.
// Single precision without libm (sines by SingleMath's CosSin); nothing
// allocates.
#pragma once

#include <cstddef>

#include "core/Arena.h"

namespace QUORLAX {

// The last Capacity() samples of a stream, by their position in it, in
// block floating point: blocks of kBlock samples as kBits-bit integers with
// a power-of-two scale each, so that every block keeps its detail relative
// to its loudest sample whatever the stream's level (8 bits: rounding noise
// some 50 dB below a block's peak, 40 dB below noise that fills it, in a
// quarter of the memory of floats).
// The block being filled waits as floats until it is whole. A sample that is
// not finite is taken as 0, anything beyond +-kLoudest as +-kLoudest.
class SampleHistory {
 public:
  static constexpr int kBlock = 64;
  static constexpr int kBits = 8;
  static constexpr float kLoudest = 1e6f;

  // Room for `samples` (rounded up to whole blocks).
  SampleHistory(int samples, Arena& arena);
  SampleHistory() = default;

  // Appends n samples (zeros when `x` is null).
  void Append(const float* x, int n);
  // Position of the next sample to arrive (the count appended so far).
  long long End() const { return end_; }
  // True when [from, from + n) is still held.
  bool Holds(long long from, int n) const { return from >= end_ - capacity_ && from + n <= end_ && n >= 0; }
  // Copies [from, from + n) as amplitudes. Only for stretches that Holds.
  void Read(long long from, int n, float* out) const;
  int Capacity() const { return capacity_; }

 private:
  // Stores the whole block in waiting_ at block `block` of the ring.
  void Commit(int block);

  signed char* data_ = nullptr;
  signed char* shift_ = nullptr;  // per block: its samples are data * 2^-shift
  float* waiting_ = nullptr;      // the block being filled
  int capacity_ = 0;
  long long end_ = 0;
};

// Energies |X|^2 of up to kMaxTones tones over one stretch: X is the
// windowed sum of x[n] e^(-i w n); a tone of amplitude A at its frequency
// reads A^2 once divided by Scale().
class ToneBank {
 public:
  static constexpr int kMaxTones = 12;

  // Tones at `hz` (count <= kMaxTones) for samples at `rate`.
  void Tune(const float* hz, int count, float rate);
  // Measures [from, from + n) of `history` (which must hold it) with edges
  // of `edge` samples each (0: a plain rectangle); writes Count() energies.
  void Measure(const SampleHistory& history, long long from, int n, int edge, float* energies);
  int Count() const { return count_; }
  // What a tone of amplitude 1 reads after the last Measure.
  float Scale() const { return scale_; }

 private:
  int count_ = 0;
  float omega_[kMaxTones] = {};  // w, radians per sample
  float coef_[kMaxTones] = {};   // 2 cos w
  float scale_ = 0.0f;
};

// Where a peak lies between three powers a step apart, in steps from the
// middle one (-0.5..0.5; 0 unless the middle one is the largest): a parabola
// through their logarithms, true near the top of a window's main lobe.
float PeakOffset(float below, float at, float above);

}  // namespace QUORLAX
