// Entry points of the WebAssembly build that save the JavaScript side a call
// per buffer. Everything else it calls is the plain C interface.
#include <cstdlib>

#include "Globals.h"
#include "ZunCoreLib_api.h"

namespace {
// The custom grid is process-wide: a custom encode sets its own and puts the
// default back, so neither later encodes nor listeners inherit it.
const float kDefaultBase = Globals::freqBaseForCustomMultiTone;
const int kDefaultSeparation = Globals::zunsSeparationForCustomMultiTone;
}  // namespace

extern "C" {

// Which argument QUORLAXWEB_Encode found at fault (web/src/core.js reads them).
enum Fault { kFaultNone = 0, kFaultGrid = 1, kFaultMode = 2, kFaultMessage = 3 };

// 1 in the module built with WebAssembly SIMD, 0 in the one without.
__attribute__((used)) int QUORLAXWEB_Simd() {
#ifdef __wasm_simd128__
  return 1;
#else
  return 0;
#endif
}

// One whole transmission of `size` bytes of text at `rate` Hz in `mode`
// (2..6); in custom mode the grid is `base` Hz and `separation` when
// `setGrid`, else the library's default one. Returns the sample count and a
// malloc'd array in *out (the caller frees it), or a negative result code
// with *out NULL and *fault naming the argument refused (a Fault).
__attribute__((used)) int QUORLAXWEB_Encode(const char* text, int size, int mode, float rate, int setGrid,
                                            float base, int separation, float** out, int* fault) {
  *out = nullptr;
  *fault = kFaultNone;
  void* h = QUORLAX_Create();
  if (h == nullptr) return QUORLAX_ERROR_UNSUPPORTED;
  // A buffer as long as the encoder's ten seconds hands everything out at once.
  const int cap = rate > 0.0f && rate < 1e6f ? static_cast<int>(rate * 10.0f) + 1 : 1;
  int r = QUORLAX_OK;
  if (mode == QUORLAX_MODE_CUSTOM) {
    r = setGrid ? QUORLAX_SetCustomBaseFreq(base, separation, h)
                : QUORLAX_SetCustomBaseFreq(kDefaultBase, kDefaultSeparation, h);
    if (r != QUORLAX_OK) *fault = kFaultGrid;
  }
  if (r == QUORLAX_OK) {
    r = QUORLAX_Configure(mode, rate, cap, h);
    if (r != QUORLAX_OK) *fault = kFaultMode;
  }
  if (r == QUORLAX_OK) {
    r = QUORLAX_EncodeDataToAudioBuffer(text, size, 0, nullptr, 0, h);
    if (r < 0) *fault = kFaultMessage;
  }
  if (r >= 0) {
    float* samples = static_cast<float*>(std::malloc(sizeof(float) * static_cast<size_t>(cap)));
    if (samples == nullptr) {
      r = QUORLAX_ERROR_UNSUPPORTED;
    } else {
      r = QUORLAX_GetEncodedAudioBuffer(samples, h);
      if (r >= 0) *out = samples; else std::free(samples);
    }
  }
  QUORLAX_Destroy(h);
  if (mode == QUORLAX_MODE_CUSTOM) {
    Globals::freqBaseForCustomMultiTone = kDefaultBase;
    Globals::zunsSeparationForCustomMultiTone = kDefaultSeparation;
  }
  return r;
}

}  // extern "C"
