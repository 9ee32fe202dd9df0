#include "Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Globals.h"
#include "MultiToneBand.h"
#include "SingleToneGrid.h"

namespace QUORLAX {

namespace {
constexpr int kInvalidArgument = -4;

// sin(x) for 0 <= x < ~7 to within about an ulp of the correctly rounded
// value, so the float samples match libm's. Plain double arithmetic, no
// branches or calls: a loop of these vectorises.
inline double sinSmall(double x) {
  constexpr double kInvPi = 0x1.45f306dc9c883p-2;
  constexpr double kRound = 0x1.8p52;  // adding and removing it rounds to an integer
  // pi in three parts; the first two have short mantissas so k * part is exact.
  constexpr double kPi1 = 0x1.921fb544p+1, kPi2 = 0x1.0b4611a6p-33, kPi3 = 0x1.3198a2e037073p-68;
  const double k = (x * kInvPi + kRound) - kRound;
  const double r = ((x - k * kPi1) - k * kPi2) - k * kPi3;  // |r| <= pi/2
  const double r2 = r * r;
  // Taylor terms r^3/3! .. r^23/23!; the first one left out is below 1e-20.
  constexpr double f3 = 6.0, f5 = f3 * 20, f7 = f5 * 42, f9 = f7 * 72, f11 = f9 * 110, f13 = f11 * 156,
                   f15 = f13 * 210, f17 = f15 * 272, f19 = f17 * 342, f21 = f19 * 420, f23 = f21 * 506;
  double p = -1.0 / f23;
  p = p * r2 + 1.0 / f21;
  p = p * r2 - 1.0 / f19;
  p = p * r2 + 1.0 / f17;
  p = p * r2 - 1.0 / f15;
  p = p * r2 + 1.0 / f13;
  p = p * r2 - 1.0 / f11;
  p = p * r2 + 1.0 / f9;
  p = p * r2 - 1.0 / f7;
  p = p * r2 + 1.0 / f5;
  p = p * r2 - 1.0 / f3;
  const double s = r + r * (r2 * p);
  // (-1)^k without integer conversion: h is 0 for even k and +-0.5 for odd.
  const double half = 0.5 * k;
  const double h = half - ((half + kRound) - kRound);
  return s * (1.0 - 8.0 * h * h);
}

// sinSmall is within 2^-52 of libm's sin (measured; 2^-51 assumed), so a
// sample summed from sines weighted by at most `weight` in all is within
// weight * 2^-48 + |v| * 2^-50 of the libm-based one (products and sum
// rounded differently included, with margin). If the float rounding of
// that whole interval is one value, it is the libm-based sample; otherwise
// (zero crossings where the tones cancel, near ties) libm decides.
inline bool settled(double v, double weight) {
  const double d = weight * 0x1p-48 + std::fabs(v) * 0x1p-50;
  const float f = static_cast<float>(v);
  return static_cast<float>(v - d) == f && static_cast<float>(v + d) == f;
}
}  // namespace

Encoder::Encoder(float samplingRate, int buffsize, int windowSize, int numTokens, int numTones)
    : mReedSolomon(nullptr),
      mnAudioSignatureSamples(0),
      mAudioSignature(nullptr),
      mAudioBufferEncodedString(nullptr),
      mNumTokens(numTokens),
      mNumTones(numTones),
      mSampleRate(samplingRate),
      mReadIndexEncodedAudioBuffer(0),
      mNumMaxSamplesEncodedString(static_cast<int>(samplingRate * 10)),
      mNumSamplesEncodedString(0),
      mBufferSize(buffsize),
      mWindowSize(windowSize) {
  mAudioBufferEncodedString = new float[mNumMaxSamplesEncodedString]();
  Globals::init(windowSize, samplingRate);
  try {
    mReedSolomon = new ReedSolomon();
  } catch (...) {
    delete[] mAudioBufferEncodedString;
    throw;
  }
}

Encoder::~Encoder() {
  delete[] mAudioSignature;
  mnAudioSignatureSamples = 0;
  delete[] mAudioBufferEncodedString;
  delete mReedSolomon;
}

int Encoder::EncodeDataToAudioBuffer(const char*, int, int, const char*, int) { return 0; }

int Encoder::SetAudioSignature(int samplesSize, const float* samplesBuffer) {
  delete[] mAudioSignature;
  mAudioSignature = nullptr;
  mnAudioSignatureSamples = 0;
  if (samplesBuffer == nullptr || samplesSize <= 0) return 0;
  const int cap = static_cast<int>(mSampleRate * Globals::durToken * Globals::numTotalTokens);
  const int kept = std::min(samplesSize, cap);
  mAudioSignature = new float[kept];
  std::memcpy(mAudioSignature, samplesBuffer, sizeof(float) * kept);
  mnAudioSignatureSamples = kept;
  return 0;
}

int Encoder::GetEncodedAudioBuffer(float* audioBuffer) {
  if (mBufferSize <= 0 || mReadIndexEncodedAudioBuffer >= mNumSamplesEncodedString) return 0;
  const int n = std::min(mBufferSize, mNumSamplesEncodedString - mReadIndexEncodedAudioBuffer);
  std::memcpy(audioBuffer, mAudioBufferEncodedString + mReadIndexEncodedAudioBuffer, sizeof(float) * n);
  mReadIndexEncodedAudioBuffer += n;
  return n;
}

int Encoder::ResetEncodedAudioBuffer() {
  mReadIndexEncodedAudioBuffer = 0;
  return 0;
}

int Encoder::ValidateRequest(const char* stringToEncode, int type, int size, const char* melodyString,
                             int melodySize) const {
  if (stringToEncode == nullptr || size != Globals::numWordTokens) return kInvalidArgument;
  for (int i = 0; i < size; ++i)
    if (Globals::getIdxFromChar(stringToEncode[i]) < 0) return kInvalidArgument;
  if (type == 2) {
    if (melodySize < 0 || (melodySize > 0 && melodyString == nullptr)) return kInvalidArgument;
    const int64_t melodySamples =
        static_cast<int64_t>(melodySize) * Globals::samplesPerToken(mSampleRate);
    if (melodySamples > mNumMaxSamplesEncodedString) return kInvalidArgument;
  }
  return 0;
}

std::vector<int> Encoder::BuildFrame(const char* stringToEncode, int size) {
  std::vector<int> digits;
  digits.reserve(Globals::numTotalTokens);
  digits.push_back(Globals::getIdxFromChar(Globals::frontDoorTokens[0]));
  digits.push_back(Globals::getIdxFromChar(Globals::frontDoorTokens[1]));
  for (int i = 0; i < size; ++i) digits.push_back(Globals::getIdxFromChar(stringToEncode[i]));
  int checkSum = 0;
  for (int i = 0; i < Globals::numWordTokens; ++i) checkSum += digits[Globals::numFrontDoorTokens + i];
  digits.push_back(checkSum % mNumTokens);
  mReedSolomon->SetMessage(digits);
  mReedSolomon->Encode();
  mReedSolomon->GetCode(digits);
  return digits;
}

void Encoder::SynthesizeMultiTone(const MultiToneBand& band, const std::vector<int>& digits) {
  // Nothing of an earlier, longer encoding (a melody's tail) may survive.
  std::memset(mAudioBufferEncodedString, 0, sizeof(float) * mNumMaxSamplesEncodedString);
  mNumSamplesEncodedString = 0;

  const double deltaTime = 1.0 / mSampleRate;
  const double twoPi = static_cast<double>(Globals::pi) + static_cast<double>(Globals::pi);
  double phase1 = 0.0;
  double phase2 = 0.0;
  const float tokenLength = Globals::durToken * mSampleRate;
  const int samplesPerDigit = static_cast<int>(tokenLength);

  for (int j = 0; j < static_cast<int>(digits.size()); ++j) {
    int samplesForFadeBegin = static_cast<int>(Globals::durFade * tokenLength);
    int samplesForFadeEnd = static_cast<int>(tokenLength * 0.1f);
    int samplesForGap = static_cast<int>(tokenLength * 0.05f);

    int tones[2];
    band.TonesOf(digits[j], tones);
    float freqs[2] = {band.toneHz[tones[0]], band.toneHz[tones[1]]};
    const float gains[2] = {band.toneGain[tones[0]], band.toneGain[tones[1]]};
    if (j >= Globals::numFrontDoorTokens) {
      const int steps = (j - 1) % 3;
      for (float& f : freqs) f += steps * band.shiftHz;
    }

    float factor = static_cast<float>(Globals::tokenAmplitude - 0.05);
    if (j == 0) {
      samplesForGap = 0;
      factor = static_cast<float>(factor + 0.05);
      samplesForFadeEnd = static_cast<int>((mSampleRate * Globals::durToken) * 0.05f);
    } else if (j == 1) {
      factor = static_cast<float>(factor + 0.025);
    }

    const double step1 = freqs[0] * twoPi * deltaTime;
    const double step2 = freqs[1] * twoPi * deltaTime;
    const int silentFrom = samplesPerDigit - samplesForGap;
    const int holdUntil = samplesPerDigit - samplesForFadeEnd - samplesForGap;
    float* out = mAudioBufferEncodedString + static_cast<size_t>(j) * samplesPerDigit;
    // Phases by the scalar recurrence, sines a block at a time (vectorised),
    // then the envelope; the sample expressions are unchanged.
    const bool twoTones = j >= Globals::numFrontDoorTokens;
    const int audibleUntil = std::max(silentFrom, samplesForFadeBegin);
    constexpr int kBlock = 256;
    double ph1[kBlock], ph2[kBlock], sin1[kBlock], sin2[kBlock];
    for (int n0 = 0; n0 < samplesPerDigit; n0 += kBlock) {
      const int cnt = std::min(kBlock, samplesPerDigit - n0);
      for (int t = 0; t < cnt; ++t) {
        phase1 += step1;
        if (phase1 > twoPi) phase1 -= twoPi;
        phase2 += step2;
        if (phase2 > twoPi) phase2 -= twoPi;
        ph1[t] = phase1;
        ph2[t] = phase2;
      }
      const int live = std::max(0, std::min(cnt, audibleUntil - n0));
      for (int t = 0; t < live; ++t) sin1[t] = sinSmall(ph1[t]);
      if (twoTones)
        for (int t = 0; t < live; ++t) sin2[t] = sinSmall(ph2[t]);
      for (int t = 0; t < cnt; ++t) {
        const int n = n0 + t;
        float g;
        if (n < samplesForFadeBegin) {
          g = factor * n / samplesForFadeBegin;
        } else if (n >= silentFrom) {
          out[n] = 0.0f;
          continue;
        } else if (n <= holdUntil) {
          g = factor;
        } else {
          g = factor * (silentFrom - n) / samplesForFadeEnd;
        }
        if (!twoTones) {
          const double a = g * gains[0];
          const double v = a * sin1[t];
          out[n] = settled(v, std::fabs(a)) ? static_cast<float>(v)
                                            : static_cast<float>(a * std::sin(ph1[t]));
        } else {
          const double a = g * 0.5 * gains[0], b = 0.5 * gains[1] * g;
          const double v = a * sin1[t] + b * sin2[t];
          out[n] = settled(v, std::fabs(a) + std::fabs(b))
                       ? static_cast<float>(v)
                       : static_cast<float>(a * std::sin(ph1[t]) + b * std::sin(ph2[t]));
        }
      }
    }
    mNumSamplesEncodedString += samplesPerDigit;
  }
  mReadIndexEncodedAudioBuffer = 0;
}

namespace {

// Rise and fall of overlay notes.
float noteEnvelope(int t, int samplesPerDigit, int samplesForFade) {
  if (t < samplesForFade) return Globals::tokenAmplitude * t / samplesForFade;
  if (t > samplesPerDigit - samplesForFade)
    return Globals::tokenAmplitude * (samplesPerDigit - t) / samplesForFade;
  return Globals::tokenAmplitude;
}

}  // namespace

void Encoder::AddSynth(int numNotes) {
  srand(static_cast<unsigned>(time(nullptr)));
  const int samplesPerDigit = Globals::samplesPerToken(mSampleRate);
  const int samplesForFade = static_cast<int>((mSampleRate * Globals::durToken) * Globals::durFade);
  const float vol = static_cast<float>(pow(10.0, Globals::synthVolume / 20.0f));
  for (int i = 0; i < numNotes; ++i) {
    const int randNumber = rand();
    const float currentFreq = Globals::getMusicalNoteFromIdx(randNumber % mNumTokens);
    const int randOffset = rand();
    const float fStart = currentFreq;
    const float fEnd = (randOffset % 500 - 250) + currentFreq;
    const float delta = fEnd - fStart;
    float* out = mAudioBufferEncodedString + static_cast<size_t>(i) * samplesPerDigit;
    for (int t = 0; t < samplesPerDigit; ++t) {
      const float factor = noteEnvelope(t, samplesPerDigit, samplesForFade);
      const float frequency = (static_cast<float>(t) / samplesPerDigit) * delta + fStart;
      const float waveLength = 1.0f / frequency;
      const float timePos = t / mSampleRate;
      const float pos = timePos / waveLength;
      out[t] = static_cast<float>(out[t] + factor * vol * sin(2 * pos * Globals::pi));
    }
  }
}

void Encoder::BlendMelody(const char* melodyString, int melodySize) {
  if (melodySize < 1) return;
  const int samplesPerDigit = Globals::samplesPerToken(mSampleRate);
  const int samplesForFade = static_cast<int>((mSampleRate * Globals::durToken) * Globals::durFade);
  int numSamplesMelodyString = 0;
  // The synthesis leaves the buffer past the transmission as it was; the
  // blend reads it as silence.
  const int melodyEnd = melodySize * samplesPerDigit;
  if (melodyEnd > mNumSamplesEncodedString)
    std::memset(mAudioBufferEncodedString + mNumSamplesEncodedString, 0,
                sizeof(float) * (melodyEnd - mNumSamplesEncodedString));
  for (int i = 0; i < melodySize; ++i) {
    const float currentFreq = Globals::getMusicalNoteFromIdx(Globals::getIdxFromChar(melodyString[i]));
    const float angularStep = 2 * Globals::pi * currentFreq;
    float* out = mAudioBufferEncodedString + static_cast<size_t>(i) * samplesPerDigit;
    for (int t = 0; t < samplesPerDigit; ++t) {
      const float factor = noteEnvelope(t, samplesPerDigit, samplesForFade);
      out[t] = sinf(t / mSampleRate * angularStep) * (factor * 0.25f) + 0.75f * out[t];
    }
    numSamplesMelodyString += samplesPerDigit;
  }
  mNumSamplesEncodedString = std::max(mNumSamplesEncodedString, numSamplesMelodyString);
}

void Encoder::ApplySignature() {
  const int n = std::min(mnAudioSignatureSamples, mNumSamplesEncodedString);
  for (int i = 0; i < n; ++i) {
    const float s = mAudioSignature[i] + mAudioBufferEncodedString[i];
    mAudioBufferEncodedString[i] = s >= 1.0f ? 1.0f : (s <= -1.0f ? -1.0f : s);
  }
}

int Encoder::EncodeMultiTone(const MultiToneBand& band, const char* stringToEncode, int type, int size,
                             const char* melodyString, int melodySize) {
  const int valid = ValidateRequest(stringToEncode, type, size, melodyString, melodySize);
  if (valid != 0) return valid;
  const std::vector<int> digits = BuildFrame(stringToEncode, size);
  SynthesizeMultiTone(band, digits);
  if (type == 1) AddSynth(static_cast<int>(digits.size()));
  if (type == 2) BlendMelody(melodyString, melodySize);
  ApplySignature();
  return mNumSamplesEncodedString;
}

int Encoder::EncodeSingleTone(const SingleToneGrid& grid, const char* stringToEncode, int type, int size,
                              const char* melodyString, int melodySize) {
  const int valid = ValidateRequest(stringToEncode, type, size, melodyString, melodySize);
  if (valid != 0) return valid;
  const std::vector<int> digits = BuildFrame(stringToEncode, size);
  mNumSamplesEncodedString = SynthesizeSingleTone(grid, digits, mSampleRate, mWindowSize, mAudioBufferEncodedString,
                                                  mNumMaxSamplesEncodedString);
  mReadIndexEncodedAudioBuffer = 0;
  if (type == 1) AddSynth(static_cast<int>(digits.size()));
  if (type == 2)
    mNumSamplesEncodedString = BlendSingleToneMelody(melodyString, melodySize, mSampleRate,
                                                     mAudioBufferEncodedString, mNumSamplesEncodedString);
  return mNumSamplesEncodedString;
}

}  // namespace QUORLAX
