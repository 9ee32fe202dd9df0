// play, listen and devices: the commands that use the sound devices.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace cli {

// What listen's --format takes.
const std::vector<std::string>& ListenFormats();

// Each returns the exit status and reports its own faults.
int RunPlayCommand(const Options& o);
int RunListenCommand(const Options& o);
int RunDevicesCommand(const Options& o);

}  // namespace cli
