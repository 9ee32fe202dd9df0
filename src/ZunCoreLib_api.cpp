#include "ZunCoreLib_api.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "core/AnalysisSizes.h"
#include "core/BandTable.h"
#include "DecoderAllMultiToneMode.h"
#include "DecoderAudibleMultiToneMode.h"
#include "DecoderCompressionMultiToneMode.h"
#include "DecoderCustomMultiToneMode.h"
#include "DecoderNonAudibleMultiToneMode.h"
#include "EncoderAudibleMultiToneMode.h"
#include "EncoderCompressionMultiToneMode.h"
#include "EncoderCustomMultiToneMode.h"
#include "EncoderNonAudibleMultiToneMode.h"
#include "core/Listener.h"
#include "core/MultiToneBand.h"

using namespace QUORLAX;


class CQuorlaxCore {
 public:
  std::unique_ptr<Encoder> mEncoder;
  std::unique_ptr<Decoder> mDecoder;
  float mSampleRate = 0.0f;
  int mBufferSize = 0;
  int mWindowSize = 0;
};

namespace {

const char kVersion[50] = "Quorlax version 1.0.0 [QuorlaxSDK]";
const char kVersionInfo[] = "Quorlax Python SDK";
constexpr int kMaxCustomSeparation = QUORLAX_MAX_CUSTOM_SEPARATION;

CQuorlaxCore* core(void* handle) { return static_cast<CQuorlaxCore*>(handle); }

int windowSizeFor(float samplingRate) { return AnalysisWindowFor(samplingRate); }

bool bandFits(int decodingMode, float rate, int window) {
  return MultiToneBand::Make(decodingMode, rate, window).Fits();
}

template <class T>
Encoder* newEncoder(float rate, int buf, int win) {
  return new T(rate, buf, win);
}
template <class T>
Decoder* newDecoder(float rate, int buf, int win) {
  return new T(rate, buf, win);
}

// The classes that send and hear each mode.
struct ModePair {
  int mode;
  Encoder* (*encoder)(float, int, int);
  Decoder* (*decoder)(float, int, int);
};
const ModePair kModePairs[] = {
    {QUORLAX_MODE_AUDIBLE, newEncoder<EncoderAudibleMultiTone>, newDecoder<DecoderAudibleMultiTone>},
    {QUORLAX_MODE_NONAUDIBLE, newEncoder<EncoderNonAudibleMultiTone>, newDecoder<DecoderNonAudibleMultiTone>},
    {QUORLAX_MODE_COMPRESSION, newEncoder<EncoderCompressionMultiTone>, newDecoder<DecoderCompressionMultiTone>},
    {QUORLAX_MODE_ALL, newEncoder<EncoderNonAudibleMultiTone>, newDecoder<DecoderAllMultiTone>},
    {QUORLAX_MODE_CUSTOM, newEncoder<EncoderCustomMultiTone>, newDecoder<DecoderCustomMultiTone>},
};

const ModePair* pairOf(int mode) {
  for (const ModePair& p : kModePairs)
    if (p.mode == mode) return &p;
  return nullptr;
}

// Whether every band that `mode` sends or hears fits at this rate and window.
// Reads the process-wide offsets, so Globals::init must have run for `window`.
bool modeFits(int mode, float rate, int window) {
  if (mode == QUORLAX_MODE_ALL) return DecoderAllMultiTone::Supports(rate, window);
  const Globals::BandRow* row = Globals::bandOfMode(mode);
  return row != nullptr && bandFits(row->decodingMode, rate, window);
}

void buildPair(CQuorlaxCore* c, int mode) {
  const ModePair* p = pairOf(mode);
  c->mEncoder.reset(p->encoder(c->mSampleRate, c->mBufferSize, c->mWindowSize));
  c->mDecoder.reset(p->decoder(c->mSampleRate, c->mBufferSize, c->mWindowSize));
}

// Builds the pair, or leaves the handle empty when memory runs out.
int tryBuildPair(CQuorlaxCore* c, int mode) {
  try {
    buildPair(c, mode);
    return QUORLAX_OK;
  } catch (const std::bad_alloc&) {
    c->mEncoder.reset();
    c->mDecoder.reset();
    return QUORLAX_ERROR_OUT_OF_MEMORY;
  }
}

// Runs a call that may allocate; out of memory becomes its code.
template <class F>
int32_t orOutOfMemory(F&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return QUORLAX_ERROR_OUT_OF_MEMORY;
  }
}

}  // namespace

extern "C" {

void* QUORLAX_Create(void) { return new (std::nothrow) CQuorlaxCore(); }

void QUORLAX_Destroy(void* zuningObject) { delete core(zuningObject); }

const char* QUORLAX_GetVersion(void) { return kVersion; }

int32_t QUORLAX_GetVersionInfo(char* versioninfo) {
  if (versioninfo == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  std::memcpy(versioninfo, kVersionInfo, sizeof kVersionInfo);
  return static_cast<int32_t>(sizeof kVersionInfo - 1);
}

int32_t QUORLAX_Configure(int mode, float samplingRate, int32_t bufferSize, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  c->mSampleRate = samplingRate;
  c->mBufferSize = bufferSize;
  c->mWindowSize = windowSizeFor(samplingRate);
  c->mEncoder.reset();
  c->mDecoder.reset();
  if (pairOf(mode) == nullptr) return QUORLAX_NOT_READY;
  if (!std::isfinite(samplingRate) || samplingRate <= 0.0f || bufferSize <= 0) return QUORLAX_ERROR_UNSUPPORTED;
  Globals::init(c->mWindowSize, samplingRate);
  if (!modeFits(mode, samplingRate, c->mWindowSize)) return QUORLAX_ERROR_UNSUPPORTED;
  return tryBuildPair(c, mode);
}

int32_t QUORLAX_SetAudioSignature(int32_t samplesSize, const float* samplesBuffer, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mEncoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  // Out of memory leaves no signature: the old one is released first.
  return orOutOfMemory([&] { return c->mEncoder->SetAudioSignature(samplesSize, samplesBuffer); });
}

int32_t QUORLAX_EncodeDataToAudioBuffer(const char* stringToEncode, int32_t size, int32_t type,
                                        const char* melodyString, int32_t melodySize, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mEncoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  // The method takes the type before the size.
  return orOutOfMemory(
      [&] { return c->mEncoder->EncodeDataToAudioBuffer(stringToEncode, type, size, melodyString, melodySize); });
}

int32_t QUORLAX_GetEncodedAudioBuffer(float* audioBuffer, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mEncoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (audioBuffer == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return c->mEncoder->GetEncodedAudioBuffer(audioBuffer);
}

int32_t QUORLAX_ResetEncodedAudioBuffer(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mEncoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  return c->mEncoder->ResetEncodedAudioBuffer();
}

int32_t QUORLAX_DecodeAudioBuffer(float* audioBuffer, int size, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mDecoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  return orOutOfMemory([&] { return c->mDecoder->DecodeAudioBuffer(audioBuffer, size); });
}

int32_t QUORLAX_GetDecodedData(char* stringDecoded, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mDecoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (stringDecoded == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return c->mDecoder->GetDecodedData(stringDecoded);
}

float QUORLAX_GetConfidence(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetConfidence() : 0.0f;
}

float QUORLAX_GetConfidenceError(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetConfidenceError() : 0.0f;
}

float QUORLAX_GetConfidenceNoise(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetConfidenceNoise() : 0.0f;
}

float QUORLAX_GetReceivedZunsVolume(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetReceivedZunsVolume()
                                     : -std::numeric_limits<float>::infinity();
}

int32_t QUORLAX_GetDecodedMode(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  return c->mDecoder ? c->mDecoder->GetDecodedMode() : -1;
}

int32_t QUORLAX_GetSpectrum(float* spectrumBuffer, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr || !c->mDecoder) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (spectrumBuffer == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return c->mDecoder->GetSpectrum(spectrumBuffer);
}

int32_t QUORLAX_SetCustomBaseFreq(float baseFreq, int zunsSeparation, void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  if (c == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (zunsSeparation < 0) return QUORLAX_ERROR_INVALID_ARGUMENT;
  if (!std::isfinite(baseFreq) || baseFreq <= 0.0f || zunsSeparation > kMaxCustomSeparation)
    return QUORLAX_ERROR_UNSUPPORTED;
  const bool rebuild = c->mDecoder && c->mDecoder->GetDecodedMode() == Globals::DECODING_MODE_CUSTOM;
  const float oldBase = Globals::freqBaseForCustomMultiTone;
  const int oldSeparation = Globals::zunsSeparationForCustomMultiTone;
  Globals::freqBaseForCustomMultiTone = baseFreq;
  Globals::zunsSeparationForCustomMultiTone = zunsSeparation;
  if (!rebuild) return QUORLAX_OK;

  Globals::init(c->mWindowSize, c->mSampleRate);
  if (!bandFits(Globals::DECODING_MODE_CUSTOM, c->mSampleRate, c->mWindowSize)) {
    // Refused: the handle keeps its pair and the process its old grid.
    Globals::freqBaseForCustomMultiTone = oldBase;
    Globals::zunsSeparationForCustomMultiTone = oldSeparation;
    Globals::init(c->mWindowSize, c->mSampleRate);
    return QUORLAX_ERROR_UNSUPPORTED;
  }
  c->mEncoder.reset();
  c->mDecoder.reset();
  return tryBuildPair(c, QUORLAX_MODE_CUSTOM);
}

float QUORLAX_GetDecodingBeginFreq(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetDecodingBeginFreq() : 0.0f;
}

float QUORLAX_GetDecodingEndFreq(void* zuningObject) {
  CQuorlaxCore* c = core(zuningObject);
  return c != nullptr && c->mDecoder ? c->mDecoder->GetDecodingEndFreq() : 0.0f;
}

int32_t QUORLAX_SetSynthMode(int synthMode, void* zuningObject) {
  if (zuningObject == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  Globals::synthMode = synthMode;
  return QUORLAX_OK;
}

int32_t QUORLAX_SetSynthVolume(float synthVolume, void* zuningObject) {
  if (zuningObject == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (!std::isfinite(synthVolume)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  Globals::synthVolume = synthVolume;
  return QUORLAX_OK;
}

}  // extern "C"
