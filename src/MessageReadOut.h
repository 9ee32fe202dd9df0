// From the 20 token values of one transmission to its text: Reed-Solomon
// correction, the check token, and the rules that tell a miscorrection from a
// correction. Shared by the decoders and the listener.
#pragma once

#include <vector>

#include "ReedSolomon.h"

namespace QUORLAX {

struct ReadOut {
  bool ok;        // the check token agrees and the word was a true correction
  int unchanged;  // message positions (0..11) that the correction left as received
};

// `values` holds the 20 values (front door first) and is left holding the 12
// corrected message values; `received` gets the 12 as received. Writes the 9
// characters and a zero byte into `text`. Allocates only in the codec's
// vector handling, once per message.
ReadOut ReadOutTokens(ReedSolomon& rs, std::vector<int>& values, int* received, char* text);

}  // namespace QUORLAX
