// play, listen and devices: the commands that use the sound devices.
#pragma once

#include <string>

namespace cli {

bool IsDeviceCommand(const std::string& command);

// Parses its own options; returns the exit status, printing faults itself.
int RunDeviceCommand(const std::string& command, int argc, char** argv);

}  // namespace cli
