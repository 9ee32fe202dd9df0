// A transmission's 20 token values both ways. Sending: the front door, the
// nine characters, the check token and the Reed-Solomon parity. Receiving:
// Reed-Solomon correction, the check token, the rules that tell a
// miscorrection from a correction, and the confidence figure; the one
// read-out of the decoders and the listener.
#pragma once

#include "ReedSolomon.h"

namespace QUORLAX {

// The 20 values sent for 9 alphabet characters (checked by the caller); the
// check token is their sum modulo `tokens`. Allocates nothing.
void FrameTokens(ReedSolomon& rs, const char* text, int tokens, int* values);

struct ReadOut {
  bool ok;        // the check token agrees and the word was a true correction
  int unchanged;  // message positions (0..11) that the correction left as received
  float correctionShare;  // unchanged over the 12 message positions
};

// `values` holds the 20 values (front door first) and is left holding the 12
// corrected message values; `received` gets the 12 as received. Writes the 9
// characters and a zero byte into `text`. Allocates nothing.
ReadOut ReadOutTokens(ReedSolomon& rs, int* values, int* received, char* text);

// Confidence 0..1 of a message: its tones' mean level above the band (dB)
// mapped from 0..15 dB onto 0..1, times the share of positions that needed
// no correction.
float MessageConfidence(float meanRatioDb, float correctionShare);

}  // namespace QUORLAX
