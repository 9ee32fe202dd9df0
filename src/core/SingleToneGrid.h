// Single-tone signalling, one token per tone: the grids and the synthesis
// shared by the single-tone encoders. The audible and non-audible variants
// differ only in the grid below; SingleToneDetector hears them.
#pragma once

#include <vector>

namespace QUORLAX {

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

// Gain of sample t of an overlay note (a melody's, or the random synth's) of
// samplesPerDigit samples: up and down over samplesForFade at its ends.
float NoteEnvelope(int t, int samplesPerDigit, int samplesForFade);

// Mixes one note per melody character under the first `numSamples` samples
// of `out` (the caller has checked that the melody fits) and returns the new
// length.
int BlendSingleToneMelody(const char* melodyString, int melodySize, float samplingRate, float* out,
                          int numSamples);

}  // namespace QUORLAX
