// What play, listen and devices share: the device named with -d, the sound
// libraries kept quiet, and faults reported where Say writes (by then the
// libraries' chatter may have been sent elsewhere).
#pragma once

#include <string>

#include "options.h"

namespace cli {

// The device -d names, or "default". Throws Error for an empty name.
std::string NamedDevice(const Options& o);

// From now on the sound libraries' own output goes nowhere; the program's
// messages (Say) still reach stderr.
void QuietSoundLibraries();

// Runs a device command: its faults become one line through Say and exit
// status 2, and results that did not reach stdout are no success.
int RunDeviceCommand(int (*run)(const Options&), const Options& o);

}  // namespace cli
