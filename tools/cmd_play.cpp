// How play, listen and devices present themselves; cmd_device.cpp runs them.
#include "cmd_device.h"
#include "commands.h"

namespace cli {
namespace {

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

const char kListenHelp[] =
    "Usage: quorlax listen [-m MODE] [--device NAME|INDEX] [-r RATE] [--format f32|s16|wav]\n"
    "                      [--json] [--failed] [--count N] [--seconds S] [--save FILE] [-q] [-v]\n"
    "\n"
    "Prints each message as soon as it is complete, in decode's formats, until Ctrl-C, SIGTERM,\n"
    "--seconds S or the end of its input. It captures from the default input device when stdin\n"
    "is a terminal or --device is given; otherwise it reads stdin: a WAV stream (as arecord\n"
    "writes to a pipe), or raw little-endian mono samples, float32 unless --format s16:\n"
    "  arecord -f S16_LE -c 1 -r 48000 | quorlax listen --format s16\n"
    "\n"
    "  -m, --mode MODE          as for decode (default all); --base and --separation for custom\n"
    "  -d, --device NAME|INDEX  capture from this device (--device default names the default)\n"
    "  -r, --rate RATE          rate of raw input (default 48000); for a device, a rate to ask\n"
    "                           for instead of its own. A WAV stream names its own rate and\n"
    "                           format: -r and --format may repeat them, not differ\n"
    "  --format f32|s16|wav     what stdin holds (a WAV stream is recognised by itself)\n"
    "  --json                   one JSON object per message\n"
    "  --failed                 also print messages that failed their check\n"
    "  --count N                stop once N messages have passed their check\n"
    "  --seconds S              stop after S seconds of input\n"
    "  --save FILE              also record what the device heard: .wav or .aiff (float32),\n"
    "                           .flac (16-bit) or .ogg, as the name says\n"
    "  -q, --quiet              no status line\n"
    "  -v, --verbose            say when each message was printed\n"
    "\n"
    "A rate at which no band of the mode fits is refused, naming the rates that work.\n"
    "Dropped input (overflow) is reported on stderr with the samples lost, and listening goes on.\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage errors, a device fault or\n"
    "output that could not be written.\n";

const char kDevicesHelp[] =
    "Usage: quorlax devices [--json]   (or quorlax --list-devices)\n"
    "\n"
    "Lists input and output devices: index, name, channels and default rate; * marks the\n"
    "default. --device of play and listen takes an index, a name or a unique part of a name\n"
    "or description.\n"
    "\n"
    "  --json   one JSON object per device: index, name, description, host, input_channels,\n"
    "           output_channels, default_rate, default_input, default_output, server_default\n";

}  // namespace

const Command kPlayCommand = {"play", "send a message through a sound device", kPlayHelp,
                              {"-m", "-r", "--base", "--separation"}, RunPlayCommand,
                              {{"-d", "--device", true}, {"--repeat", nullptr, true}, {"--gap", nullptr, true}}};
const Command kListenCommand = {
    "listen",
    "print messages heard on a sound device or stdin as they arrive",
    kListenHelp,
    {"-m", "-r", "--base", "--separation", "--json", "--failed", "-q", "-v"},
    RunListenCommand,
    {{"-d", "--device", true},
     {"--format", nullptr, true},
     {"--save", nullptr, true},
     {"--seconds", nullptr, true},
     {"--count", nullptr, true}}};
const Command kDevicesCommand = {"devices", "list the sound devices", kDevicesHelp, {"--json"}, RunDevicesCommand};

}  // namespace cli
