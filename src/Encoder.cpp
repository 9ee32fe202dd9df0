#include "Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Globals.h"
#include "core/MultiToneBand.h"
#include "core/SingleToneGrid.h"
#include "core/MessageReadOut.h"
#include "core/MultiToneSynth.h"

namespace QUORLAX {

namespace {
constexpr int kInvalidArgument = -4;
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

std::vector<int> Encoder::BuildFrame(const char* stringToEncode, int /*size*/) {
  std::vector<int> digits(Globals::numTotalTokens);
  FrameTokens(*mReedSolomon, stringToEncode, mNumTokens, digits.data());
  return digits;
}

void Encoder::SynthesizeMultiTone(const MultiToneBand& band, const std::vector<int>& digits) {
  // Nothing of an earlier, longer encoding (a melody's tail) may survive.
  std::memset(mAudioBufferEncodedString, 0, sizeof(float) * mNumMaxSamplesEncodedString);
  MultiToneSynth synth(band, mSampleRate);
  synth.Start(digits.data());
  mNumSamplesEncodedString = synth.Render(mAudioBufferEncodedString, synth.TotalSamples());
  mReadIndexEncodedAudioBuffer = 0;
}

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
      const float factor = NoteEnvelope(t, samplesPerDigit, samplesForFade);
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
      const float factor = NoteEnvelope(t, samplesPerDigit, samplesForFade);
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
