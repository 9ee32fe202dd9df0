// quorlax devices: the sound devices, as play and listen find them.
#include <cstdio>

#include "commands.h"
#include "device_commands.h"
#include "io/stop.h"
#include "quorlax_device.h"
#include "report.h"

namespace cli {
namespace {

namespace qd = quorlax_device;

const char kDevicesHelp[] =
    "Usage: quorlax devices [--json]   (or quorlax --list-devices)\n"
    "\n"
    "Lists input and output devices: index, name, channels and default rate; * marks the\n"
    "default. --device of play and listen takes an index, a name or a unique part of a name\n"
    "or description.\n"
    "\n"
    "  --json   one JSON object per device: index, name, description, host, input_channels,\n"
    "           output_channels, default_rate, default_input, default_output, server_default\n";

// One device as a JSON object, with the fields of the Python package's Device.
std::string DeviceJson(const qd::DeviceInfo& d) {
  auto flag = [](bool b) { return b ? "true" : "false"; };
  return "{\"index\":" + std::to_string(d.index) + ",\"name\":" + JsonString(d.name) +
         ",\"description\":" + JsonString(d.description) + ",\"host\":" + JsonString(d.host) +
         ",\"input_channels\":" + std::to_string(d.input_channels) +
         ",\"output_channels\":" + std::to_string(d.output_channels) +
         ",\"default_rate\":" + std::to_string(d.default_rate) + ",\"default_input\":" + flag(d.default_input) +
         ",\"default_output\":" + flag(d.default_output) + ",\"server_default\":" + flag(d.server_default) + "}";
}

int RunDevices(const Options& o) {
  if (!o.args.empty()) throw Error("devices takes no arguments");
  QuietSoundLibraries();
  Watchdog watch(20.0, "the sound system");
  qd::Session session;
  const auto& all = session.Devices();
  if (all.empty())
    throw qd::DeviceError("no sound device found (no sound card, or its sound server is not running)");
  if (o.json) {
    for (const qd::DeviceInfo& d : all) PrintLine(DeviceJson(d));
    return kExitFound;
  }
  for (bool input : {true, false}) {
    std::printf("%s devices (* = used when --device is not given):\n", input ? "Input" : "Output");
    bool any = false;
    for (const qd::DeviceInfo& d : all) {
      const int channels = input ? d.input_channels : d.output_channels;
      if (channels <= 0) continue;
      any = true;
      const bool mark = input ? d.default_input : d.default_output;
      std::printf("  %c %2d  %s", mark ? '*' : ' ', d.index, d.name.c_str());
      if (!d.description.empty() && d.description != d.name) std::printf("  \"%s\"", d.description.c_str());
      std::printf("  (%s, %d ch, %d Hz%s)\n", d.host.c_str(), channels, d.default_rate,
                  d.server_default ? ", sound server's default" : "");
    }
    if (!any) std::printf("  none\n");
  }
  std::fflush(stdout);
  return kExitFound;
}

}  // namespace

const Command kDevicesCommand = {"devices", "list the sound devices", kDevicesHelp, {"--json"},
                                 [](const Options& o) { return RunDeviceCommand(RunDevices, o); }};

}  // namespace cli
