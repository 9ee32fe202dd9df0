#include "device_commands.h"

#include <cstdio>
#include <exception>

#include "io/stop.h"
#include "quorlax_device.h"
#include "report.h"

namespace cli {

std::string NamedDevice(const Options& o) {
  if (!o.Has("-d")) return "default";
  const std::string& name = o.given.at("-d");
  if (name.empty()) throw Error("--device needs a NAME or INDEX (see quorlax devices)");
  return name;
}

void QuietSoundLibraries() { SetDiagnostics(quorlax_device::QuietLibraryOutput()); }

int RunDeviceCommand(int (*run)(const Options&), const Options& o) {
  try {
    const int status = run(o);
    CheckStdout();
    return status;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    Say(e.what());
  }
  return kExitUsage;
}

}  // namespace cli
