// quorlax play: a message through a sound device.
#include <memory>
#include <vector>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "decode_stream.h"
#include "device_commands.h"
#include "io/stop.h"
#include "message.h"
#include "quorlax_device.h"

namespace cli {
namespace {

namespace qd = quorlax_device;

const char kPlayHelp[] =
    "Usage: quorlax play MESSAGE [-m MODE] [-r RATE] [--device NAME|INDEX] [--repeat N] [--gap SECONDS]\n"
    "\n"
    "Sends MESSAGE (9 characters from 0-9 and a-v) through the default output device, or\n"
    "--device, and returns once it has been played.\n"
    "\n"
    "  -m, --mode MODE          audible (2, default), nonaudible (3), compression (4), all (5:\n"
    "                           sends nonaudible) or custom (6, with --base HZ --separation N)\n"
    "  -r, --rate RATE          sample rate in Hz (default: the device's own, 44100 or 48000;\n"
    "                           otherwise 48000)\n"
    "  -d, --device NAME|INDEX  an index, a name or a unique part of one (see quorlax devices)\n"
    "  --repeat N               send it N times\n"
    "  --gap SECONDS            silence between repeats (default 1)\n"
    "\n"
    "Exit status: 0 played, 2 usage errors or a missing, busy or vanished device.\n";

int RunPlay(const Options& o) {
  const std::string device_name = NamedDevice(o);
  const int repeat = o.Has("--repeat") ? ParseInt("--repeat", o.given.at("--repeat"), 1, qd::kMaxRepeat) : 1;
  double gap_s = 1.0;
  if (o.Has("--gap")) {
    gap_s = ParseFloat("--gap", o.given.at("--gap"));
    if (gap_s < 0.0 || gap_s > qd::kMaxGapSeconds)
      throw Error("--gap is from 0 to " + std::to_string(static_cast<int>(qd::kMaxGapSeconds)) + " seconds");
  }
  if (o.args.empty()) throw Error("play needs a MESSAGE of 9 characters (0-9, a-v)");
  if (o.args.size() > 1) throw Error("play takes one MESSAGE; unexpected '" + o.args[1] + "'");
  CheckMessage(o.args[0]);
  const ModeChoice choice = o.ModeOr(QUORLAX_MODE_AUDIBLE);
  QuietSoundLibraries();
  CatchStopSignals();
  std::unique_ptr<Watchdog> watch(new Watchdog(20.0, "the sound system"));
  std::unique_ptr<qd::Session> session(new qd::Session);
  const qd::DeviceInfo& device = session->Find(device_name, false);
  // The device's own rate when the mode works there, else the common default.
  const int rate = o.rate > 0 ? o.rate : DecodingRateFor(choice, device.default_rate);
  const std::vector<float> one = EncodeMessage(o.args[0], choice, rate);
  const size_t gap = static_cast<size_t>(gap_s * rate);
  watch.reset();
  try {
    qd::Play(*session, device, one.data(), one.size(), rate, &g_stop, repeat, gap);
  } catch (const qd::DeviceError& e) {
    Fatal(e.what());
  }
  Watchdog closing(10.0, "the sound system");
  session.reset();
  return kExitFound;
}

}  // namespace

const Command kPlayCommand = {"play",
                              "send a message through a sound device",
                              kPlayHelp,
                              {"-m", "-r", "--base", "--separation"},
                              [](const Options& o) { return RunDeviceCommand(RunPlay, o); },
                              {{"-d", "--device", true}, {"--repeat", nullptr, true}, {"--gap", nullptr, true}}};

}  // namespace cli
