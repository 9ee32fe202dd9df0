#include "Globals.h"

#include <cmath>

#include "core/BandTable.h"

namespace Globals {

const char frontDoorTokens[2] = {'1', 'j'};

int numTokensAll = 32;
int numTonesAll = 9;
int numTokensAudible = numTokensAll;
int numTokensNonAudible = numTokensAll;
int numTokensCompression = numTokensAll;
int numTokensCustom = numTokensAll;
int numTonesAudibleMultiTone = numTonesAll;
int numTonesNonAudibleMultiTone = numTonesAll;
int numTonesCompressionMultiTone = numTonesAll;
int numTonesCustomMultiTone = numTonesAll;

int nBinsOffsetForAudibleMultiTone = 12;
float freqOffsetForAudibleMultiTone = 258.3984375f;
int nBinsOffsetForNonAudibleMultiTone = 4;
float freqOffsetForNonAudibleMultiTone = 86.1328125f;
int nBinsOffsetForCompressionMultiTone = 3;
float freqOffsetForCompressionMultiTone = 64.599609375f;
int zunsSeparationForCustomMultiTone = kDefaultCustomSeparation;
int nBinsOffsetForCustomMultiTone = zunsSeparationForCustomMultiTone + 2;
float freqOffsetForCustomMultiTone = 64.599609375f;
float freqBaseForCustomMultiTone = kDefaultCustomBaseHz;

float synthVolume = 0.0f;
int synthMode = 0;

int samplesPerToken(float samplerate) { return static_cast<int>(durToken * samplerate); }

int init(int fftsize, float /*samplerate*/) {
  for (const BandRow& row : bandTable) {
    *row.shiftBinsNow = bandShiftBins(row, zunsSeparationForCustomMultiTone);
    *row.shiftHzNow = bandShiftHzAtWindow(*row.shiftBinsNow, fftsize);
  }
  return 0;
}

int getIdxFromChar(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char upper = static_cast<char>(c & ~32);
  if (upper >= 'A' && upper <= 'V') return upper - 'A' + 10;
  return -1;
}

char getCharFromIdx(int idx) {
  if (idx >= 0 && idx <= 9) return static_cast<char>('0' + idx);
  if (idx >= 10 && idx <= 31) return static_cast<char>('a' + idx - 10);
  return '0';
}

// ---------------------------------------------------------------------------
// Multi-tone maps: the 32 tokens are the first 32 unordered pairs of the nine
// tones in lexicographic order; the same table serves every band.

namespace {

struct TonePair {
  int lower, upper;
};

constexpr int kNumTones = 9;
constexpr int kNumTokens = 32;

constexpr TonePair pairOfToken(int token) {
  int t = 0;
  for (int a = 0; a < kNumTones; ++a)
    for (int b = a + 1; b < kNumTones; ++b, ++t)
      if (t == token) return {a, b};
  return {0, 1};
}

}  // namespace

void tonesOfToken(int idx, int** idxtones) {
  const TonePair p = (idx >= 0 && idx < kNumTokens) ? pairOfToken(idx) : pairOfToken(0);
  (*idxtones)[0] = p.lower;
  (*idxtones)[1] = p.upper;
}

int tokenOfTones(int idx1, int idx2) {
  if (idx1 == idx2 || idx1 < 0 || idx2 < 0 || idx1 >= kNumTones || idx2 >= kNumTones) return -1;
  const int a = idx1 < idx2 ? idx1 : idx2;
  const int b = idx1 < idx2 ? idx2 : idx1;
  // Pairs before (a, b) in lexicographic order.
  const int token = a * (2 * kNumTones - a - 1) / 2 + (b - a - 1);
  return token < kNumTokens ? token : -1;
}

namespace {

// Round half up as the protocol does: float quotient widened to double.
// Values no grid can use are clamped so that the conversion stays defined.
int roundBins(float x) {
  const double v = static_cast<double>(x) + 0.5;
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<int>(v);
}

void pairFrequencies(float (*tone)(int, float, int), int idx, float rate, int window, float** freqs) {
  int pair[2];
  int* p = pair;
  tonesOfToken(idx, &p);
  (*freqs)[0] = tone(pair[0], rate, window);
  (*freqs)[1] = tone(pair[1], rate, window);
}

void pairLoudness(const BandRow& row, int idx, int numTones, float** loud) {
  int pair[2];
  int* p = pair;
  tonesOfToken(idx, &p);
  (*loud)[0] = bandToneGain(row, pair[0], numTones);
  (*loud)[1] = bandToneGain(row, pair[1], numTones);
}

const BandRow& row(DECODING_MODE band) { return *bandOfDecodingMode(band); }

}  // namespace

float gridFrequency(float firstFreq, float step, int idx, float samplingRate, int windowSize) {
  const float binToHz = samplingRate / static_cast<float>(windowSize);
  const int firstFreqBin = roundBins(firstFreq / binToHz);
  const int tokenDistanceInBins = roundBins(step / binToHz);
  return (static_cast<float>(tokenDistanceInBins) * binToHz) * static_cast<float>(idx) +
         static_cast<float>(firstFreqBin) * binToHz;
}

void getIdxsFromIdxAudibleMultiTone(int idx, int** idxtones) { tonesOfToken(idx, idxtones); }
void getIdxsFromIdxNonAudibleMultiTone(int idx, int** idxtones) { tonesOfToken(idx, idxtones); }
void getIdxsFromIdxCompressionMultiTone(int idx, int** idxtones) { tonesOfToken(idx, idxtones); }
void getIdxsFromIdxCustomMultiTone(int idx, int** idxtones) { tonesOfToken(idx, idxtones); }

int getIdxTokenFromIdxsTonesAudibleMultiTone(int a, int b) { return tokenOfTones(a, b); }
int getIdxTokenFromIdxsTonesNonAudibleMultiTone(int a, int b) { return tokenOfTones(a, b); }
int getIdxTokenFromIdxsTonesCompressionMultiTone(int a, int b) { return tokenOfTones(a, b); }
int getIdxTokenFromIdxsTonesCustomMultiTone(int a, int b) { return tokenOfTones(a, b); }

float getToneFromIdxAudibleMultiTone(int idx, float rate, int window) {
  return bandTone(row(DECODING_MODE_AUDIBLE), idx, rate, window);
}
float getToneFromIdxNonAudibleMultiTone(int idx, float rate, int window) {
  return bandTone(row(DECODING_MODE_NONAUDIBLE), idx, rate, window);
}
float getToneFromIdxCompressionMultiTone(int idx, float rate, int window) {
  return bandTone(row(DECODING_MODE_COMPRESSION), idx, rate, window);
}
float getToneFromIdxCustomMultiTone(int idx, float rate, int window) {
  return bandTone(row(DECODING_MODE_CUSTOM), idx, rate, window);
}

void getFreqsFromIdxAudibleMultiTone(int idx, float rate, int window, float** freqs) {
  pairFrequencies(getToneFromIdxAudibleMultiTone, idx, rate, window, freqs);
}
void getFreqsFromIdxNonAudibleMultiTone(int idx, float rate, int window, float** freqs) {
  pairFrequencies(getToneFromIdxNonAudibleMultiTone, idx, rate, window, freqs);
}
void getFreqsFromIdxCompressionMultiTone(int idx, float rate, int window, float** freqs) {
  pairFrequencies(getToneFromIdxCompressionMultiTone, idx, rate, window, freqs);
}
void getFreqsFromIdxCustomMultiTone(int idx, float rate, int window, float** freqs) {
  pairFrequencies(getToneFromIdxCustomMultiTone, idx, rate, window, freqs);
}

void getLoudnessAudibleMultiToneFromIdx(int idx, float** loud) {
  pairLoudness(row(DECODING_MODE_AUDIBLE), idx, numTonesAudibleMultiTone, loud);
}
void getLoudnessNonAudibleMultiToneFromIdx(int idx, float** loud) {
  pairLoudness(row(DECODING_MODE_NONAUDIBLE), idx, numTonesNonAudibleMultiTone, loud);
}
void getLoudnessCompressionMultiToneFromIdx(int idx, float** loud) {
  pairLoudness(row(DECODING_MODE_COMPRESSION), idx, numTonesCompressionMultiTone, loud);
}
void getLoudnessCustomMultiToneFromIdx(int idx, float** loud) {
  pairLoudness(row(DECODING_MODE_CUSTOM), idx, numTonesCustomMultiTone, loud);
}

// ---------------------------------------------------------------------------
// Single-tone maps.

float getFreqFromIdxAudible(int idx, float rate, int window) {
  return gridFrequency(3300.0f, 210.0f, idx, rate, window);
}
float getFreqFromIdxNonAudible(int idx, float rate, int window) {
  return gridFrequency(16800.0f, 155.0f, idx, rate, window);
}

float getLoudnessFromIdx(int idx) {
  const float maxAttdB = -6.0f;
  const float loudnessdB =
      (1.0f - static_cast<float>(idx) / static_cast<float>(numTokensAudible - 1)) * maxAttdB;
  return powf(10.0f, loudnessdB / 20.0f);
}

float getMusicalNoteFromIdx(int idx) {
  const float firstFreq = 440.0f;
  return powf(2.0f, static_cast<float>(idx) / 12.0f) * firstFreq;
}

// ---------------------------------------------------------------------------
// Array statistics.

namespace {

template <typename T>
int maxIdx(const T* a, int size) {
  int best = 0;
  for (int i = 1; i < size; ++i)
    if (a[i] > a[best]) best = i;
  return best;
}

template <typename T>
int secondIdx(const T* a, int size) {
  const int top = maxIdx(a, size);
  int best = top == 0 ? 1 : 0;
  for (int i = 0; i < size; ++i)
    if (i != top && a[i] > a[best]) best = i;
  return best;
}

}  // namespace

float maxValue(float* a, int size) { return a[maxIdx(a, size)]; }
int maxValue(int* a, int size) { return a[maxIdx(a, size)]; }
int maxValueIdx(float* a, int size) { return maxIdx(a, size); }
int maxValueIdx(int* a, int size) { return maxIdx(a, size); }
float secondValue(float* a, int size) { return a[secondIdx(a, size)]; }
int secondValueIdx(float* a, int size) { return secondIdx(a, size); }
int secondValueIdx(int* a, int size) { return secondIdx(a, size); }

float sum(float* data, int size) {
  float s = 0.0f;
  for (int i = 0; i < size; ++i) s += data[i];
  return s;
}

float square_sum(float* data, int size) {
  float s = 0.0f;
  for (int i = 0; i < size; ++i) s += data[i] * data[i];
  return s;
}

float mean(float* data, int size) { return sum(data, size) / static_cast<float>(size); }

float standard_deviation(float* data, float m, int size) {
  float dev = 0.0f;
  for (int i = 0; i < size; ++i) dev += (data[i] - m) * (data[i] - m);
  return sqrtf(dev / static_cast<float>(size));
}

float standard_deviation(float* data, int size) { return standard_deviation(data, mean(data, size), size); }

}  // namespace Globals
