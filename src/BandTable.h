// The facts that tell the multi-tone bands apart, one row per band. The tone
// maps and shift steps of Globals, MultiToneBand (and through it every encoder
// and detector), the C interface's mode handling and its band query all read
// these rows; front ends ask the library instead of keeping copies.
#pragma once

#include "Globals.h"

namespace Globals {

enum class BandLoudness {
  kFlat,    // every tone at full gain
  kGraded,  // 0.85 for the lowest tone up to 1.0 for the highest
};

struct BandRow {
  int mode;                   // QUORLAX_MODE_* that sends this band
  DECODING_MODE decodingMode; // what GetDecodedMode reports for it
  const char* name;
  float firstToneHz;          // < 0: the process-wide custom base frequency
  float toneStepHz;           // < 0: three shift steps
  int shiftBins;              // shift step in bins of 44100 Hz / 2048; < 0: custom separation + 2
  BandLoudness loudness;
  bool heardInModeAll;        // one of the bands that mode all listens to
  int* shiftBinsNow;          // the process-wide step that init() recomputes
  float* shiftHzNow;
};

constexpr int numBands = 4;
extern const BandRow bandTable[numBands];

// The one pair map every band uses: token 0..31 to its two tones (lower first;
// other tokens give token 0's pair), and a tone pair in either order to its
// token (-1 when the pair names none).
void tonesOfToken(int idx, int** idxtones);
int tokenOfTones(int idx1, int idx2);

// Row of a QUORLAX_MODE_* value, or of a DECODING_MODE value; nullptr for others.
const BandRow* bandOfMode(int mode);
const BandRow* bandOfDecodingMode(int decodingMode);

// Tone `idx` of the row's grid at this rate and window, from the current
// process-wide settings.
float bandTone(const BandRow& row, int idx, float samplingRate, int windowSize);
// Synthesis gain of tone `tone` (0..numTones-1).
float bandToneGain(const BandRow& row, int tone, int numTones);

}  // namespace Globals
