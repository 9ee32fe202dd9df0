// The commands of the quorlax program; main.cpp lists them.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace cli {

// Throws Error naming the first character outside 0-9, a-v (as typed) or a wrong length.
void CheckMessage(const std::string& message);

// One transmission of `message` at `rate` (any rate the band fits in: others
// are synthesised at kSynthRate and converted), `type` 0 plain, 1 with a
// random melody, 2 with `melody`. Throws Error naming the rates that work, or
// with the library's reason.
std::vector<float> EncodeMessage(const std::string& message, const ModeChoice& choice, int rate, int type = 0,
                                 const std::string& melody = "", const float* volume_db = nullptr);

extern const Command kEncodeCommand;
extern const Command kDecodeCommand;
extern const Command kDemoCommand;
extern const Command kInspectCommand;
// play, listen and devices (device_commands.cpp).
extern const Command kPlayCommand;
extern const Command kListenCommand;
extern const Command kDevicesCommand;
// scan (cmd_scan.cpp).
extern const Command kScanCommand;

}  // namespace cli
