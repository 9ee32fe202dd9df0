// The C interface beyond the handle: queries, the listener and the sender.
// Nothing here throws, reads a process-wide setting (but where a declaration
// says so) or allocates on an audio path, so this part of the interface also
// builds where there are no exceptions and no heap (QUORLAX_FREESTANDING).
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <new>

#include "core/AnalysisSizes.h"
#include "core/BandTable.h"
#include "Globals.h"
#include "core/Listener.h"
#include "core/MultiToneBand.h"
#include "ZunCoreLib_api.h"
#include "core/Modes.h"
#include "core/Sender.h"

#ifndef QUORLAX_VERSION
#error "QUORLAX_VERSION: the build names the library's version"
#endif

using namespace QUORLAX;

// A listener's handle: in the caller's block ahead of the listener, or on
// the heap with the listener's block beside it.
struct QUORLAX_Listener {
  Listener* impl;
  unsigned char* heapBlock;  // null: the caller's memory
};

struct QUORLAX_Sender {
  Sender impl;
  bool onHeap;
};

namespace {

const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuv";

void setError(int* error, int code) {
  if (error != nullptr) *error = code;
}

// A caller-allocated struct that starts with its size: readable when that
// size covers the struct this library was built with.
template <class T>
bool sized(const T* p) {
  return p != nullptr && p->size >= sizeof(T);
}

// Where in a caller's block an object of T can start, and the bytes that
// costs at most.
template <class T>
void* alignedIn(void* memory) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(memory);
  return reinterpret_cast<void*>((at + alignof(T) - 1) / alignof(T) * alignof(T));
}
template <class T>
size_t withSlack() {
  return sizeof(T) + alignof(T);
}

// A listener's configuration as the caller gave it. Callers built with an
// older header pass a shorter struct: the fields it lacks take their
// defaults, as do capacities left at 0. False when it cannot be read.
bool readConfig(const QUORLAX_ListenerConfig* config, ListenerSettings* out) {
  constexpr size_t kFirstSize = offsetof(QUORLAX_ListenerConfig, max_readings);
  if (config == nullptr || config->size < kFirstSize) return false;
  QUORLAX_ListenerConfig c;
  std::memset(&c, 0, sizeof c);
  std::memcpy(&c, config, std::min<size_t>(config->size, sizeof c));
  *out = ListenerSettings{c.mode, c.sample_rate, c.custom_base_hz, c.custom_separation, c.report_failed != 0,
                          c.max_readings == 0 ? Listener::kReaders : c.max_readings,
                          c.queue == 0 ? Listener::kQueue : c.queue};
  return true;
}

// -4 for a config that cannot be read, else the listener's own check.
int checkConfig(const QUORLAX_ListenerConfig* config, ListenerSettings* settings) {
  if (!readConfig(config, settings)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return Listener::Check(*settings);
}

// Whether a caller's block can take an object of `need` bytes (or need's own
// code when it is one): 0, -4 no block, -8 too small.
int blockCheck(int64_t need, const void* memory, int64_t bytes) {
  if (need < 0) return static_cast<int>(need);
  if (memory == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return bytes < need ? QUORLAX_ERROR_OUT_OF_MEMORY : QUORLAX_OK;
}

// The heap, where there is one. The freestanding profile has none: what
// would live there is out of memory, and nothing of the heap is linked.
void* heapMemory(size_t bytes) {
#if defined(QUORLAX_FREESTANDING)
  (void)bytes;
  return nullptr;
#else
  return ::operator new(bytes, std::nothrow);
#endif
}
void heapRelease(void* p) {
#if defined(QUORLAX_FREESTANDING)
  (void)p;
#else
  ::operator delete(p);
#endif
}

// A listener and its handle on the heap; null (with the code) on failure.
QUORLAX_Listener* newListener(const ListenerSettings& settings, int* error) {
  const size_t bytes = Listener::Bytes(settings);
  void* handleMemory = heapMemory(sizeof(QUORLAX_Listener));
  unsigned char* block = static_cast<unsigned char*>(heapMemory(bytes));
  if (handleMemory == nullptr || block == nullptr) {
    heapRelease(handleMemory);
    heapRelease(block);
    setError(error, QUORLAX_ERROR_OUT_OF_MEMORY);
    return nullptr;
  }
  QUORLAX_Listener* handle = new (handleMemory) QUORLAX_Listener{Listener::Place(block, bytes, settings), block};
  setError(error, QUORLAX_OK);
  return handle;
}

void releaseListener(QUORLAX_Listener* l) {
  l->impl->~Listener();
  if (l->heapBlock != nullptr) {
    heapRelease(l->heapBlock);
    l->~QUORLAX_Listener();
    heapRelease(l);
  }
}

// The facts of one band (a QUORLAX_MODE_* of one band) with this grid.
template <class Info>
int32_t bandFacts(int mode, float sampleRate, float customBaseHz, int customSeparation, Info* out) {
  const Globals::BandRow* row = Globals::bandOfMode(mode);
  if (row == nullptr) return QUORLAX_NOT_READY;
  if (!std::isfinite(sampleRate) || sampleRate <= 0.0f) return QUORLAX_ERROR_UNSUPPORTED;
  const MultiToneBand band =
      MultiToneBand::Compute(row->decodingMode, sampleRate, AnalysisWindowFor(sampleRate), customBaseHz, customSeparation);
  if (!band.Fits()) return QUORLAX_ERROR_UNSUPPORTED;
  out->mode = row->mode;
  out->decoding_mode = row->decodingMode;
  std::memset(out->name, 0, sizeof out->name);
  std::strncpy(out->name, row->name, sizeof out->name - 1);
  out->num_tones = MultiToneBand::kNumTones;
  for (int i = 0; i < MultiToneBand::kNumTones; ++i) out->tone_hz[i] = band.toneHz[i];
  out->shift_hz = band.shiftHz;
  out->low_hz = band.toneHz[0];
  out->high_hz = band.toneHz[MultiToneBand::kNumTones - 1] + 2 * band.shiftHz;
  return QUORLAX_OK;
}

}  // namespace

extern "C" {

const char* QUORLAX_GetErrorText(int code) {
  switch (code) {
    case QUORLAX_OK: return "success";
    case QUORLAX_NOT_READY: return "more audio is needed, or the mode is not recognised";
    case QUORLAX_FRONT_DOOR: return "the start of a transmission was found";
    case QUORLAX_MESSAGE_COMPLETE: return "a message is complete and can be read";
    case QUORLAX_ERROR_INVALID_ARGUMENT: return "invalid argument";
    case QUORLAX_ERROR_NOT_CONFIGURED: return "the handle is null or not configured";
    case QUORLAX_ERROR_BUFFER_FULL: return "the decoder's buffer is full: drain it with empty pushes first";
    case QUORLAX_ERROR_UNSUPPORTED: return "this mode cannot be used at this sample rate or setting";
    case QUORLAX_ERROR_OUT_OF_MEMORY: return "out of memory: the heap, or the block given, is too small";
    case QUORLAX_CHECK_FAILED: return "the message failed its check";
    default: return "unknown result code";
  }
}

// ---------------------------------------------------------------------------
// Queries.

const char* QUORLAX_GetVersionNumber(void) { return QUORLAX_VERSION; }

const char* QUORLAX_GetAlphabet(void) { return kAlphabet; }

int32_t QUORLAX_GetModes(int* out, int32_t capacity) {
  if (capacity < 0 || (out == nullptr && capacity > 0)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  int32_t count = 0;
  for (int mode = 0; mode <= QUORLAX_MODE_CUSTOM; ++mode) {
    if (modes::Name(mode) == nullptr) continue;
    if (count < capacity) out[count] = mode;
    ++count;
  }
  return count;
}

int32_t QUORLAX_ModeFromName(const char* name) {
  if (name == nullptr) return QUORLAX_NOT_READY;
  for (int mode = 0; mode <= QUORLAX_MODE_CUSTOM; ++mode) {
    const char* known = modes::Name(mode);
    if (known == nullptr) continue;
    size_t i = 0;
    while (known[i] != '\0' && std::tolower(static_cast<unsigned char>(name[i])) == known[i]) ++i;
    if (known[i] == '\0' && name[i] == '\0') return mode;
  }
  return QUORLAX_NOT_READY;
}

const char* QUORLAX_GetModeName(int mode) { return modes::Name(mode); }

int32_t QUORLAX_GetCustomBaseRange(float sampleRate, int customSeparation, float* lowHz, float* highHz) {
  if (lowHz == nullptr || highHz == nullptr || customSeparation < 0) return QUORLAX_ERROR_INVALID_ARGUMENT;
  if (!std::isfinite(sampleRate) || sampleRate <= 0.0f || customSeparation > QUORLAX_MAX_CUSTOM_SEPARATION)
    return QUORLAX_ERROR_UNSUPPORTED;
  // A base snaps to a bin of the analysis grid: try each bin once.
  const int window = AnalysisWindowFor(sampleRate);
  const float binHz = sampleRate / static_cast<float>(window);
  int first = -1, last = -1;
  for (int bin = 1; bin <= window / 2; ++bin) {
    const MultiToneBand band = MultiToneBand::Compute(Globals::DECODING_MODE_CUSTOM, sampleRate, window,
                                                      static_cast<float>(bin) * binHz, customSeparation);
    if (!band.Fits()) continue;
    if (first < 0) first = bin;
    last = bin;
  }
  if (first < 0) return QUORLAX_ERROR_UNSUPPORTED;
  *lowHz = static_cast<float>(first) * binHz;
  *highHz = static_cast<float>(last) * binHz;
  return QUORLAX_OK;
}

int32_t QUORLAX_GetSampleRates(float* out, int32_t capacity) {
  if (capacity < 0 || (out == nullptr && capacity > 0)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  int32_t count = 0;
  for (float rate : kAnalysisRates) {
    if (count < capacity) out[count] = rate;
    ++count;
  }
  return count;
}

float QUORLAX_GetDefaultCustomBase(void) { return Globals::kDefaultCustomBaseHz; }
int32_t QUORLAX_GetDefaultCustomSeparation(void) { return Globals::kDefaultCustomSeparation; }

int32_t QUORLAX_IsSupported(int mode, float sampleRate, float customBaseHz, int customSeparation) {
  return modes::Check(mode, sampleRate, customBaseHz, customSeparation);
}

int32_t QUORLAX_GetModeInfo(int mode, float sampleRate, float customBaseHz, int customSeparation,
                            QUORLAX_ModeInfo* out) {
  if (!sized(out)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  const int code = modes::Check(mode, sampleRate, customBaseHz, customSeparation);
  if (code != QUORLAX_OK) return code;
  int heard[modes::kMaxHeard];
  const int count = modes::BandsHeard(mode, heard);
  QUORLAX_ModeInfo info;
  std::memset(&info, 0, sizeof info);
  info.size = out->size;
  std::strncpy(info.name, modes::Name(mode), sizeof info.name - 1);
  info.sends = Globals::bandOfDecodingMode(modes::BandSent(mode))->mode;
  info.num_hears = count;
  const int window = AnalysisWindowFor(sampleRate);
  auto cover = [&](int decodingMode, bool first) {
    const MultiToneBand band = MultiToneBand::Compute(decodingMode, sampleRate, window, customBaseHz, customSeparation);
    const float low = band.toneHz[0];
    const float high = band.toneHz[MultiToneBand::kNumTones - 1] + 2 * band.shiftHz;
    info.low_hz = first ? low : std::fmin(info.low_hz, low);
    info.high_hz = first ? high : std::fmax(info.high_hz, high);
  };
  cover(modes::BandSent(mode), true);
  for (int b = 0; b < count; ++b) {
    info.hears[b] = Globals::bandOfDecodingMode(heard[b])->mode;
    cover(heard[b], false);
  }
  info.token_samples = Globals::samplesPerToken(sampleRate);
  info.transmission_samples = Globals::numTotalTokens * info.token_samples;
  info.max_encoded_samples = static_cast<int32_t>(sampleRate * 10);  // the encoder's ten seconds
  std::memcpy(out, &info, sizeof info);
  return QUORLAX_OK;
}

int32_t QUORLAX_GetBandInfo(int mode, float sampleRate, QUORLAX_BandInfo* out) {
  if (out == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  QUORLAX_BandInfo info;
  std::memset(&info, 0, sizeof info);
  const int32_t code = bandFacts(mode, sampleRate, Globals::freqBaseForCustomMultiTone,
                                 Globals::zunsSeparationForCustomMultiTone, &info);
  if (code == QUORLAX_OK) *out = info;
  return code;
}

int32_t QUORLAX_GetBandInfoEx(int mode, float sampleRate, float customBaseHz, int customSeparation,
                              QUORLAX_BandInfoEx* out) {
  if (!sized(out)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  if (mode == QUORLAX_MODE_CUSTOM) {
    if (customSeparation < 0) return QUORLAX_ERROR_INVALID_ARGUMENT;
    if (customSeparation > QUORLAX_MAX_CUSTOM_SEPARATION) return QUORLAX_ERROR_UNSUPPORTED;
  }
  QUORLAX_BandInfoEx info;
  std::memset(&info, 0, sizeof info);
  info.size = out->size;
  const int32_t code = bandFacts(mode, sampleRate, customBaseHz, customSeparation, &info);
  if (code == QUORLAX_OK) std::memcpy(out, &info, sizeof info);
  return code;
}

// ---------------------------------------------------------------------------
// The listener.

void QUORLAX_ListenerConfigInit(QUORLAX_ListenerConfig* config, int mode, float sampleRate) {
  if (config == nullptr) return;
  std::memset(config, 0, sizeof *config);
  config->size = sizeof *config;
  config->mode = mode;
  config->sample_rate = sampleRate;
  config->custom_base_hz = Globals::kDefaultCustomBaseHz;
  config->custom_separation = Globals::kDefaultCustomSeparation;
  config->report_failed = 0;
  config->max_readings = Listener::kReaders;
  config->queue = Listener::kQueue;
}

QUORLAX_Listener* QUORLAX_ListenerCreateEx(const QUORLAX_ListenerConfig* config, int* error) {
  ListenerSettings settings;
  const int code = checkConfig(config, &settings);
  if (code != QUORLAX_OK) {
    setError(error, code);
    return nullptr;
  }
  return newListener(settings, error);
}

int64_t QUORLAX_ListenerSize(const QUORLAX_ListenerConfig* config) {
  ListenerSettings settings;
  const int code = checkConfig(config, &settings);
  if (code != QUORLAX_OK) return code;
  return static_cast<int64_t>(withSlack<QUORLAX_Listener>() + Listener::Bytes(settings));
}

QUORLAX_Listener* QUORLAX_ListenerInit(void* memory, int64_t bytes, const QUORLAX_ListenerConfig* config,
                                       int* error) {
  const int code = blockCheck(QUORLAX_ListenerSize(config), memory, bytes);
  setError(error, code);
  if (code != QUORLAX_OK) return nullptr;
  void* at = alignedIn<QUORLAX_Listener>(memory);
  unsigned char* rest = static_cast<unsigned char*>(at) + sizeof(QUORLAX_Listener);
  const size_t restBytes = static_cast<size_t>(bytes) - static_cast<size_t>(rest - static_cast<unsigned char*>(memory));
  QUORLAX_Listener* handle = new (at) QUORLAX_Listener{nullptr, nullptr};
  ListenerSettings settings;
  readConfig(config, &settings);
  handle->impl = Listener::Place(rest, restBytes, settings);
  return handle;
}

QUORLAX_Listener* QUORLAX_ListenerCreate(int mode, float sampleRate, int* error) {
  QUORLAX_ListenerConfig config;
  QUORLAX_ListenerConfigInit(&config, mode, sampleRate);
  if (mode == QUORLAX_MODE_CUSTOM) {
    // As documented: a custom listener made this way starts from the process-wide grid.
    config.custom_base_hz = Globals::freqBaseForCustomMultiTone;
    config.custom_separation = Globals::zunsSeparationForCustomMultiTone;
  }
  return QUORLAX_ListenerCreateEx(&config, error);
}

int32_t QUORLAX_ListenerSetCustom(QUORLAX_Listener* listener, float baseFreq, int separation) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  return listener->impl->SetCustom(baseFreq, separation);
}

int32_t QUORLAX_ListenerReportFailed(QUORLAX_Listener* listener, int on) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  listener->impl->ReportFailed(on != 0);
  return QUORLAX_OK;
}

int32_t QUORLAX_ListenerPush(QUORLAX_Listener* listener, const float* samples, int count) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (count < 0 || (samples == nullptr && count > 0)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  listener->impl->Push(samples, count);
  return QUORLAX_OK;
}

int32_t QUORLAX_ListenerFlush(QUORLAX_Listener* listener) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  listener->impl->Flush();
  return QUORLAX_OK;
}

int32_t QUORLAX_ListenerNext(QUORLAX_Listener* listener, QUORLAX_Message* out) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (out == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  HeardMessage m;
  if (!listener->impl->Next(&m)) return 0;
  std::memcpy(out->text, m.text, sizeof out->text);
  out->ok = m.ok ? 1 : 0;
  out->band = m.mode;
  out->start = m.start;
  out->end = m.end;
  out->level_db = m.levelDb;
  out->confidence = m.confidence;
  return 1;
}

int32_t QUORLAX_ListenerNextEx(QUORLAX_Listener* listener, QUORLAX_MessageEx* out) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (out == nullptr || out->size < QUORLAX_MESSAGE_EX_SIZE_1_0) return QUORLAX_ERROR_INVALID_ARGUMENT;
  HeardMessage m;
  if (!listener->impl->Next(&m)) return 0;
  QUORLAX_MessageEx e;
  std::memset(&e, 0, sizeof e);
  e.size = out->size;
  std::memcpy(e.text, m.text, sizeof e.text);
  e.ok = m.ok ? 1 : 0;
  e.band = m.mode;
  e.start = m.start;
  e.end = m.end;
  e.level_db = m.levelDb;
  e.confidence = m.confidence;
  e.snr_db = m.snrDb;
  e.corrected = m.corrected;
  e.pitch_offset = m.pitchOffset;
  e.tempo_offset = m.tempoOffset;
  // As much as the caller's struct holds: fields are only ever added at the end.
  std::memcpy(out, &e, out->size < sizeof e ? out->size : sizeof e);
  return 1;
}

int64_t QUORLAX_ListenerDropped(const QUORLAX_Listener* listener) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  return listener->impl->Dropped();
}

int32_t QUORLAX_ListenerNextDoor(QUORLAX_Listener* listener, QUORLAX_Door* out) {
  if (listener == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (out == nullptr) return QUORLAX_ERROR_INVALID_ARGUMENT;
  HeardDoor d;
  if (!listener->impl->NextDoor(&d)) return 0;
  out->band = d.mode;
  out->start = d.start;
  return 1;
}

void QUORLAX_ListenerDestroy(QUORLAX_Listener* listener) {
  if (listener != nullptr) releaseListener(listener);
}

// ---------------------------------------------------------------------------
// The sender.

int64_t QUORLAX_SenderSize(int mode, float sampleRate, float customBaseHz, int customSeparation) {
  const int code = modes::Check(mode, sampleRate, customBaseHz, customSeparation);
  if (code != QUORLAX_OK) return code;
  return static_cast<int64_t>(withSlack<QUORLAX_Sender>());
}

QUORLAX_Sender* QUORLAX_SenderInit(void* memory, int64_t bytes, int mode, float sampleRate, float customBaseHz,
                                   int customSeparation, int* error) {
  const int code = blockCheck(QUORLAX_SenderSize(mode, sampleRate, customBaseHz, customSeparation), memory, bytes);
  setError(error, code);
  if (code != QUORLAX_OK) return nullptr;
  return new (alignedIn<QUORLAX_Sender>(memory))
      QUORLAX_Sender{Sender(mode, sampleRate, customBaseHz, customSeparation), false};
}

QUORLAX_Sender* QUORLAX_SenderCreate(int mode, float sampleRate, float customBaseHz, int customSeparation,
                                     int* error) {
  const int code = modes::Check(mode, sampleRate, customBaseHz, customSeparation);
  if (code != QUORLAX_OK) {
    setError(error, code);
    return nullptr;
  }
  void* memory = heapMemory(sizeof(QUORLAX_Sender));
  QUORLAX_Sender* s =
      memory != nullptr ? new (memory) QUORLAX_Sender{Sender(mode, sampleRate, customBaseHz, customSeparation), true}
                        : nullptr;
  setError(error, s != nullptr ? QUORLAX_OK : QUORLAX_ERROR_OUT_OF_MEMORY);
  return s;
}

int32_t QUORLAX_SenderStart(QUORLAX_Sender* sender, const char* text9) {
  if (sender == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  return sender->impl.Start(text9);
}

int32_t QUORLAX_SenderRender(QUORLAX_Sender* sender, float* out, int32_t count) {
  if (sender == nullptr) return QUORLAX_ERROR_NOT_CONFIGURED;
  if (count < 0 || (out == nullptr && count > 0)) return QUORLAX_ERROR_INVALID_ARGUMENT;
  return sender->impl.Render(out, count);
}

void QUORLAX_SenderDestroy(QUORLAX_Sender* sender) {
  if (sender == nullptr) return;
  const bool onHeap = sender->onHeap;
  sender->~QUORLAX_Sender();
  if (onHeap) heapRelease(sender);
}

}  // extern "C"
