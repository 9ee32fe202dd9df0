// Single-tone signalling, one token per tone: the synthesis shared by the
// single-tone encoders and the detection shared by the single-tone decoders.
// The audible and non-audible variants differ only in the grid below.
#pragma once

#include <vector>

namespace QUORLAX {

class Decoder;

struct SingleToneGrid {
  float (*freqOf)(int idx, float samplingRate, int windowSize);
  const int* numTokens;  // the process-wide token count of this grid
  int decodingMode;      // Globals::DECODING_MODE
  int deReverbBinWidth;  // half-width, in bins, of the band a token's reverberation is measured in
};

extern const SingleToneGrid kAudibleSingleToneGrid;
extern const SingleToneGrid kNonAudibleSingleToneGrid;

// Clears `capacity` samples of `out`, writes one slot per digit and returns
// the samples written.
int SynthesizeSingleTone(const SingleToneGrid& grid, const std::vector<int>& digits, float samplingRate,
                         int windowSize, float* out, int capacity);

// Mixes one note per melody character under the first `numSamples` samples
// of `out` (the caller has checked that the melody fits) and returns the new
// length.
int BlendSingleToneMelody(const char* melodyString, int melodySize, float samplingRate, float* out,
                          int numSamples);

// Detection on a decoder's block ring. The decoder keeps the rings and the
// token clock; this object only reads and writes them.
class SingleToneDetector {
 public:
  // Sets the decoder's bin width, band limits and mode, and allocates its
  // token bins (mFreqsBins), which the decoder releases.
  SingleToneDetector(Decoder& d, const SingleToneGrid& grid);

  // True when every bin the detection reads lies inside the spectrum.
  static bool Supports(const SingleToneGrid& grid, float samplingRate, int windowSize);

  // Level of each token above the band mean on the current spectrum, in dB.
  int ComputeStartStats(Decoder& d) const;
  // Records the two strongest tokens of the current spectrum at the write slot.
  void RankStartHop(Decoder& d) const;
  // Looks for the front door in the filled ring; on success the token clock
  // starts at the write position.
  bool SearchFrontDoor(Decoder& d) const;

  // Per frame of the current token window, the strongest token.
  int ComputeWindowStats(Decoder& d) const;
  int DeReverb(Decoder& d, int nbins, const int* freqsBins) const;
  // Mean over the window starting at `firstSlot` of the band sums
  // mid - width .. mid + width - 1; appends each frame's sum.
  float BlockSums(const Decoder& d, int firstSlot, int midFreqBin, int width, int nbins,
                  std::vector<float>& sumPerFrame) const;
  // -1 until a whole token window is buffered, then the voted token.
  int DecideToken(Decoder& d) const;

  // Bin limit passed to the de-reverberation (the spectrum size).
  int deReverbBins;
  bool supported;
};

}  // namespace QUORLAX
