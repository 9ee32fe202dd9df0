// Field offsets of the listener's records, so that the JavaScript side reads
// them without copies of the C layout.
#include <cstddef>

#include "ZunCoreLib_api.h"

extern "C" {

// {size, text, ok, band, start, end, level_db, confidence} of QUORLAX_Message,
// then {size, mode, decoding_mode, name, num_tones, tone_hz, shift_hz, low_hz,
// high_hz} of QUORLAX_BandInfo; then the sizes and fields of the growable
// structs: QUORLAX_ModeInfo {size, name, sends, hears, num_hears,
// token_samples, transmission_samples, max_encoded_samples, low_hz, high_hz},
// QUORLAX_ListenerConfig {size, mode, sample_rate, custom_base_hz,
// custom_separation, report_failed} and QUORLAX_MessageEx {size, text, ok,
// band, start, end, level_db, confidence, snr_db, corrected}.
__attribute__((used)) const int* QUORLAXWEB_Layout() {
  static const int layout[] = {
      sizeof(QUORLAX_Message),
      offsetof(QUORLAX_Message, text),
      offsetof(QUORLAX_Message, ok),
      offsetof(QUORLAX_Message, band),
      offsetof(QUORLAX_Message, start),
      offsetof(QUORLAX_Message, end),
      offsetof(QUORLAX_Message, level_db),
      offsetof(QUORLAX_Message, confidence),
      sizeof(QUORLAX_BandInfo),
      offsetof(QUORLAX_BandInfo, mode),
      offsetof(QUORLAX_BandInfo, decoding_mode),
      offsetof(QUORLAX_BandInfo, name),
      offsetof(QUORLAX_BandInfo, num_tones),
      offsetof(QUORLAX_BandInfo, tone_hz),
      offsetof(QUORLAX_BandInfo, shift_hz),
      offsetof(QUORLAX_BandInfo, low_hz),
      offsetof(QUORLAX_BandInfo, high_hz),
      sizeof(QUORLAX_ModeInfo),
      offsetof(QUORLAX_ModeInfo, name),
      offsetof(QUORLAX_ModeInfo, sends),
      offsetof(QUORLAX_ModeInfo, hears),
      offsetof(QUORLAX_ModeInfo, num_hears),
      offsetof(QUORLAX_ModeInfo, token_samples),
      offsetof(QUORLAX_ModeInfo, transmission_samples),
      offsetof(QUORLAX_ModeInfo, max_encoded_samples),
      offsetof(QUORLAX_ModeInfo, low_hz),
      offsetof(QUORLAX_ModeInfo, high_hz),
      sizeof(QUORLAX_ListenerConfig),
      offsetof(QUORLAX_ListenerConfig, mode),
      offsetof(QUORLAX_ListenerConfig, sample_rate),
      offsetof(QUORLAX_ListenerConfig, custom_base_hz),
      offsetof(QUORLAX_ListenerConfig, custom_separation),
      offsetof(QUORLAX_ListenerConfig, report_failed),
      sizeof(QUORLAX_MessageEx),
      offsetof(QUORLAX_MessageEx, text),
      offsetof(QUORLAX_MessageEx, ok),
      offsetof(QUORLAX_MessageEx, band),
      offsetof(QUORLAX_MessageEx, start),
      offsetof(QUORLAX_MessageEx, end),
      offsetof(QUORLAX_MessageEx, level_db),
      offsetof(QUORLAX_MessageEx, confidence),
      offsetof(QUORLAX_MessageEx, snr_db),
      offsetof(QUORLAX_MessageEx, corrected),
  };
  return layout;
}

}  // extern "C"
