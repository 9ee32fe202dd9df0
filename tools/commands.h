// The commands of the quorlax program, one file each (cmd_NAME.cpp, with its
// help and options); main.cpp lists them.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace cli {

extern const Command kEncodeCommand;
extern const Command kDecodeCommand;
extern const Command kPlayCommand;
extern const Command kListenCommand;
extern const Command kDevicesCommand;
extern const Command kScanCommand;
extern const Command kInspectCommand;
extern const Command kDemoCommand;

// What listen's --format takes.
const std::vector<std::string>& ListenFormats();

}  // namespace cli
