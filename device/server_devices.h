// Sinks and sources of a PulseAudio (or PipeWire-pulse) server. PortAudio's
// ALSA host sees such a server as one "pulse" device; naming its sinks and
// sources lets the user pick one, opened through ALSA's pulse plugin.
#pragma once

#include <string>
#include <vector>

namespace quorlax_device {

struct ServerDevice {
  std::string name;         // the server's name, e.g. "alsa_output.pci-0000_00_1f.3.analog-stereo"
  std::string description;  // e.g. "Built-in Audio Analog Stereo"
  bool input = false;       // a source (monitors included) rather than a sink
  int channels = 0;
  int rate = 0;
  bool is_default = false;
};

// Empty when no server answers within `timeout_s`, or the machine has no libpulse.so.0
// (opened at run time) or the build no libpulse headers.
std::vector<ServerDevice> ListServerDevices(double timeout_s);

}  // namespace quorlax_device
