// A message as the program takes it from the user, and the samples of its
// transmission: what encode, play and demo share.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace cli {

// Throws Error naming the first character outside 0-9, a-v (as typed), in a
// message (or melody: `what`), positions counted in characters from 1.
void CheckAlphabet(const std::string& s, const char* what);

// Throws Error naming the first character outside 0-9, a-v (as typed) or a wrong length.
void CheckMessage(const std::string& message);

// One transmission of `message` at `rate` (any rate the band fits in: others
// are synthesised at kSynthRate and converted), `type` 0 plain, 1 with a
// random melody, 2 with `melody`. Throws Error naming the rates that work, or
// with the library's reason.
std::vector<float> EncodeMessage(const std::string& message, const ModeChoice& choice, int rate, int type = 0,
                                 const std::string& melody = "", const float* volume_db = nullptr);

}  // namespace cli
