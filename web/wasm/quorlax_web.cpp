// What the WebAssembly build adds to the C interface: which build it is, and
// where the fields of the interface's records lie, so that the JavaScript side
// reads them without copies of the C layout.
#include <cstddef>

#include "ZunCoreLib_api.h"

extern "C" {

// 1 in the module built with WebAssembly SIMD, 0 in the one without.
__attribute__((used)) int QUORLAXWEB_Simd() {
#ifdef __wasm_simd128__
  return 1;
#else
  return 0;
#endif
}

// QUORLAX_MESSAGE_LENGTH; then size and field offsets of QUORLAX_MessageEx
// {text, ok, band, start, end, level_db, confidence, pitch_offset,
// tempo_offset}, QUORLAX_ModeInfo {name,
// sends, hears, num_hears, token_samples, transmission_samples, low_hz,
// high_hz}, QUORLAX_BandInfoEx {mode, decoding_mode, name, num_tones, tone_hz,
// shift_hz, low_hz, high_hz} and QUORLAX_ListenerConfig {custom_base_hz,
// custom_separation, report_failed}; QUORLAX_MODE_CUSTOM, the mode that takes a grid.
__attribute__((used)) const int* QUORLAXWEB_Layout() {
  static const int layout[] = {
      QUORLAX_MESSAGE_LENGTH,
      sizeof(QUORLAX_MessageEx),
      offsetof(QUORLAX_MessageEx, text),
      offsetof(QUORLAX_MessageEx, ok),
      offsetof(QUORLAX_MessageEx, band),
      offsetof(QUORLAX_MessageEx, start),
      offsetof(QUORLAX_MessageEx, end),
      offsetof(QUORLAX_MessageEx, level_db),
      offsetof(QUORLAX_MessageEx, confidence),
      offsetof(QUORLAX_MessageEx, pitch_offset),
      offsetof(QUORLAX_MessageEx, tempo_offset),
      sizeof(QUORLAX_ModeInfo),
      offsetof(QUORLAX_ModeInfo, name),
      offsetof(QUORLAX_ModeInfo, sends),
      offsetof(QUORLAX_ModeInfo, hears),
      offsetof(QUORLAX_ModeInfo, num_hears),
      offsetof(QUORLAX_ModeInfo, token_samples),
      offsetof(QUORLAX_ModeInfo, transmission_samples),
      offsetof(QUORLAX_ModeInfo, low_hz),
      offsetof(QUORLAX_ModeInfo, high_hz),
      sizeof(QUORLAX_BandInfoEx),
      offsetof(QUORLAX_BandInfoEx, mode),
      offsetof(QUORLAX_BandInfoEx, decoding_mode),
      offsetof(QUORLAX_BandInfoEx, name),
      offsetof(QUORLAX_BandInfoEx, num_tones),
      offsetof(QUORLAX_BandInfoEx, tone_hz),
      offsetof(QUORLAX_BandInfoEx, shift_hz),
      offsetof(QUORLAX_BandInfoEx, low_hz),
      offsetof(QUORLAX_BandInfoEx, high_hz),
      sizeof(QUORLAX_ListenerConfig),
      offsetof(QUORLAX_ListenerConfig, custom_base_hz),
      offsetof(QUORLAX_ListenerConfig, custom_separation),
      offsetof(QUORLAX_ListenerConfig, report_failed),
      QUORLAX_MODE_CUSTOM,
  };
  return layout;
}

}  // extern "C"
