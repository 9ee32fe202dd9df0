// Entry points of the WebAssembly build that save the JavaScript side a call
// per buffer. Everything else it calls is the plain C interface.
#include <cstdlib>

#include "ZunCoreLib_api.h"

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
// with *out NULL and *fault naming the argument refused (a Fault). The
// sender reads no process-wide setting.
__attribute__((used)) int QUORLAXWEB_Encode(const char* text, int size, int mode, float rate, int setGrid,
                                            float base, int separation, float** out, int* fault) {
  *out = nullptr;
  *fault = kFaultNone;
  if (QUORLAX_GetModeName(mode) == nullptr) {
    *fault = kFaultMode;
    return QUORLAX_NOT_READY;
  }
  const bool gridGiven = mode == QUORLAX_MODE_CUSTOM && setGrid;
  if (!gridGiven) {
    base = QUORLAX_GetDefaultCustomBase();
    separation = QUORLAX_GetDefaultCustomSeparation();
  } else if (separation < 0) {
    *fault = kFaultGrid;
    return QUORLAX_ERROR_INVALID_ARGUMENT;
  } else if (!(base > 0.0f && base < 1e30f) || separation > QUORLAX_MAX_CUSTOM_SEPARATION) {
    *fault = kFaultGrid;  // no rate could take this grid
    return QUORLAX_ERROR_UNSUPPORTED;
  }
  QUORLAX_ModeInfo info;
  info.size = sizeof info;
  int r = QUORLAX_GetModeInfo(mode, rate, base, separation, &info);
  if (r != QUORLAX_OK) {
    *fault = kFaultMode;  // the mode (with its grid) at this rate
    return r;
  }
  // The sender takes a zero-terminated message of exactly its length.
  if (text == nullptr || size != QUORLAX_MESSAGE_LENGTH) {
    *fault = kFaultMessage;
    return QUORLAX_ERROR_INVALID_ARGUMENT;
  }
  char message[QUORLAX_MESSAGE_LENGTH + 1];
  for (int i = 0; i < QUORLAX_MESSAGE_LENGTH; ++i) message[i] = text[i];
  message[QUORLAX_MESSAGE_LENGTH] = '\0';
  QUORLAX_Sender* sender = QUORLAX_SenderCreate(mode, rate, base, separation, &r);
  if (sender == nullptr) return r;
  r = QUORLAX_SenderStart(sender, message);
  if (r != QUORLAX_OK) {
    *fault = kFaultMessage;
  } else {
    float* samples = static_cast<float*>(std::malloc(sizeof(float) * static_cast<size_t>(info.transmission_samples)));
    if (samples == nullptr) {
      r = QUORLAX_ERROR_OUT_OF_MEMORY;
    } else {
      r = QUORLAX_SenderRender(sender, samples, info.transmission_samples);
      if (r >= 0) *out = samples; else std::free(samples);
    }
  }
  QUORLAX_SenderDestroy(sender);
  return r;
}

}  // extern "C"
