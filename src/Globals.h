// Protocol tables shared by every encoder and decoder: frame composition,
// token alphabet, tone grids, loudness curves and small array statistics.
// The mutable values are process-wide and unlocked: configure handles from
// one thread at a time.
//
// ---- Kept for the specified interface --------------------------------------
// The per-mode offsets, the custom grid, the synth settings and the per-mode
// get...From... maps are the handle classes' process-wide state, with the
// names and behaviour those classes rely on. The engine in core/ reads none
// of the mutable ones: it computes a band from its row of the band table
// (core/BandTable.h, core/MultiToneBand.h) as a pure function.
// ---------------------------------------------------------------------------
#pragma once

namespace Globals {

// Frame composition.
constexpr int numFrontDoorTokens = 2;
constexpr int numWordTokens = 9;
constexpr int numCheckTokens = 1;
constexpr int numCorrectionTokens = 8;
constexpr int numMessageTokens = numWordTokens + numCheckTokens + numCorrectionTokens;  // 18
constexpr int numTotalTokens = numFrontDoorTokens + numMessageTokens;                   // 20
extern const char frontDoorTokens[2];  // '1', 'j': token indices 1 and 19

// Alphabet and tone counts.
extern int numTokensAll;  // 32
extern int numTonesAll;   // 9
extern int numTokensAudible, numTokensNonAudible, numTokensCompression, numTokensCustom;
extern int numTonesAudibleMultiTone, numTonesNonAudibleMultiTone, numTonesCompressionMultiTone,
    numTonesCustomMultiTone;

// Signal constants.
constexpr float durToken = 0.10448979586362839f;  // the float nearest 4608 / 44100 s
constexpr float durFade = 0.075f;                 // fraction of a token, not seconds
constexpr float tokenAmplitude = 0.7f;
constexpr float pi = 3.1415927410125732f;
constexpr float two_pi = 6.2831854820251465f;

// Per-mode shift steps, recomputed by init() from the window size.
extern int nBinsOffsetForAudibleMultiTone;
extern float freqOffsetForAudibleMultiTone;
extern int nBinsOffsetForNonAudibleMultiTone;
extern float freqOffsetForNonAudibleMultiTone;
extern int nBinsOffsetForCompressionMultiTone;
extern float freqOffsetForCompressionMultiTone;
extern int zunsSeparationForCustomMultiTone;
extern int nBinsOffsetForCustomMultiTone;
extern float freqOffsetForCustomMultiTone;
extern float freqBaseForCustomMultiTone;

// Process-wide synthesis settings.
extern float synthVolume;  // dB, gain of the synth overlay
extern int synthMode;      // stored only

enum DECODING_MODE {
  DECODING_MODE_AUDIBLE = 0,
  DECODING_MODE_NONAUDIBLE = 1,
  DECODING_MODE_COMPRESSION = 2,
  DECODING_MODE_CUSTOM = 3,
};

// Samples in one token at `samplerate`: truncation of the float product.
int samplesPerToken(float samplerate);

// Recomputes the shift steps for an analysis window of `fftsize` samples.
// The bin width always assumes 44100 Hz; `samplerate` is not used. Returns 0.
int init(int fftsize, float samplerate);

int getIdxFromChar(char c);   // -1 outside the alphabet
char getCharFromIdx(int idx); // '0' outside 0..31

// Multi-tone maps. Token to tones writes (lower, upper); out-of-range tokens
// give token 0's pair. Tones to token answers -1 for pairs that name no token.
void getIdxsFromIdxAudibleMultiTone(int idx, int** idxtones);
void getIdxsFromIdxNonAudibleMultiTone(int idx, int** idxtones);
void getIdxsFromIdxCompressionMultiTone(int idx, int** idxtones);
void getIdxsFromIdxCustomMultiTone(int idx, int** idxtones);
int getIdxTokenFromIdxsTonesAudibleMultiTone(int idx1, int idx2);
int getIdxTokenFromIdxsTonesNonAudibleMultiTone(int idx1, int idx2);
int getIdxTokenFromIdxsTonesCompressionMultiTone(int idx1, int idx2);
int getIdxTokenFromIdxsTonesCustomMultiTone(int idx1, int idx2);
float getToneFromIdxAudibleMultiTone(int idx, float samplingRate, int windowSize);
float getToneFromIdxNonAudibleMultiTone(int idx, float samplingRate, int windowSize);
float getToneFromIdxCompressionMultiTone(int idx, float samplingRate, int windowSize);
float getToneFromIdxCustomMultiTone(int idx, float samplingRate, int windowSize);
void getFreqsFromIdxAudibleMultiTone(int idx, float samplingRate, int windowSize, float** freqs);
void getFreqsFromIdxNonAudibleMultiTone(int idx, float samplingRate, int windowSize, float** freqs);
void getFreqsFromIdxCompressionMultiTone(int idx, float samplingRate, int windowSize, float** freqs);
void getFreqsFromIdxCustomMultiTone(int idx, float samplingRate, int windowSize, float** freqs);
void getLoudnessAudibleMultiToneFromIdx(int idx, float** freqsLoudness);
void getLoudnessNonAudibleMultiToneFromIdx(int idx, float** freqsLoudness);
void getLoudnessCompressionMultiToneFromIdx(int idx, float** freqsLoudness);
void getLoudnessCustomMultiToneFromIdx(int idx, float** freqsLoudness);

// Grid frequency: first frequency and step snapped to whole bins of
// samplingRate / windowSize, then tone `idx` on that grid.
float gridFrequency(float firstFreq, float step, int idx, float samplingRate, int windowSize);

// Single-tone maps and the musical note.
float getFreqFromIdxAudible(int idx, float samplingRate, int windowSize);
float getFreqFromIdxNonAudible(int idx, float samplingRate, int windowSize);
float getLoudnessFromIdx(int idx);
float getMusicalNoteFromIdx(int idx);  // semitones above 440 Hz

// Array statistics. Ties keep the earliest position; NaN is never taken.
// maxValue* read element 0 whatever size is; second* also element 1.
float maxValue(float* myArray, int size);
int maxValue(int* myArray, int size);
int maxValueIdx(float* myArray, int size);
int maxValueIdx(int* myArray, int size);
float secondValue(float* myArray, int size);
int secondValueIdx(float* myArray, int size);
int secondValueIdx(int* myArray, int size);
float sum(float* data, int size);
float square_sum(float* data, int size);
float mean(float* data, int size);
float standard_deviation(float* data, int size);
float standard_deviation(float* data, float mean, int size);

}  // namespace Globals
