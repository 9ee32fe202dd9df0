// Field offsets of the listener's records, so that the JavaScript side reads
// them without copies of the C layout.
#include <cstddef>

#include "ZunCoreLib_api.h"

extern "C" {

// {size, text, ok, band, start, end, level_db, confidence} of QUORLAX_Message,
// then {size, mode, decoding_mode, name, num_tones, tone_hz, shift_hz, low_hz,
// high_hz} of QUORLAX_BandInfo.
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
  };
  return layout;
}

}  // extern "C"
