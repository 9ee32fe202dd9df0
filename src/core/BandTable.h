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

// The custom grid a process starts with and a new listener takes by default.
constexpr float kDefaultCustomBaseHz = 12000.0f;
constexpr int kDefaultCustomSeparation = 1;
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

// The same facts as pure functions of their inputs, for everything that must
// not read or write process-wide state: the shift step in bins of the 44100 Hz
// grid, that step in Hz as init() derives it for an analysis window, and tone
// `idx` of the grid with a given first tone (the custom base where the row has
// none) and step.
int bandShiftBins(const BandRow& row, int customSeparation);
float bandShiftHzAtWindow(int shiftBins, int windowSize);
float bandToneWith(const BandRow& row, int idx, float samplingRate, int windowSize, float customBaseHz,
                   float shiftHzAtWindow);
// Synthesis gain of tone `tone` (0..numTones-1).
float bandToneGain(const BandRow& row, int tone, int numTones);

}  // namespace Globals
