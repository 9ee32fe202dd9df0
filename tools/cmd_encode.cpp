// quorlax encode: one transmission of a message into a sound file, or raw
// samples on stdout.
#include <unistd.h>

#include <cstdio>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "io/raw_samples.h"
#include "io/sound_file.h"
#include "message.h"

namespace cli {
namespace {

int RunEncode(const Options& o) {
  if (o.args.empty()) throw Error("encode needs a MESSAGE of 9 characters (0-9, a-v)");
  if (o.args.size() > 1) throw Error("encode takes one MESSAGE; unexpected '" + o.args[1] + "'");
  const std::string& msg = o.args[0];
  CheckMessage(msg);
  const ModeChoice choice = o.ModeOr(QUORLAX_MODE_AUDIBLE);
  const int rate = o.rate > 0 ? o.rate : kDefaultRate;
  if (o.melody_given && o.synth) throw Error("choose either --melody or --synth, not both");
  if (o.volume_given && !o.synth) throw Error("--volume sets the gain of the --synth melody; add --synth");
  if (o.volume_given && !(o.volume_db >= QUORLAX_SYNTH_VOLUME_MIN_DB && o.volume_db <= QUORLAX_SYNTH_VOLUME_MAX_DB)) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g dB", static_cast<double>(QUORLAX_SYNTH_VOLUME_MIN_DB),
                  static_cast<double>(QUORLAX_SYNTH_VOLUME_MAX_DB));
    throw Error("--volume needs a gain from " + std::string(range) + ", not '" + o.given.at("--volume") + "'");
  }
  if (o.melody_given) {
    if (o.melody.empty()) throw Error("--melody needs at least one note (0-9, a-v)");
    CheckAlphabet(o.melody, "melody");
  }
  const int type = o.synth ? 1 : (o.melody_given ? 2 : 0);
  const std::string output = o.output.empty() ? msg + ".wav" : o.output;
  if (output == "-" && isatty(STDOUT_FILENO))
    throw Error("refusing to write raw audio to a terminal; pipe it or use -o FILE");
  const std::vector<float> audio =
      EncodeMessage(msg, choice, rate, type, o.melody, o.volume_given ? &o.volume_db : nullptr);
  if (output == "-") {
    WriteRaw(stdout, audio);
  } else {
    WriteSoundFile(output, audio, rate, o.float_wav);
    if (isatty(STDERR_FILENO))
      std::fprintf(stderr, "quorlax: wrote %s (%.2f s, %s mode, %d Hz)\n", output.c_str(),
                   static_cast<double>(audio.size()) / rate, ModeName(choice.mode), rate);
  }
  return kExitFound;
}

const char kEncodeHelp[] =
    "Usage: quorlax encode MESSAGE [-m MODE] [-r RATE] [-o FILE] [--float]\n"
    "                      [--melody NOTES | --synth [--volume DB]]\n"
    "\n"
    "Writes one transmission of MESSAGE: 9 characters from 0-9 and a-v (either case).\n"
    "\n" QUORLAX_HELP_MODES "\n"
    "                       (default audible)\n"
    "  -r, --rate RATE      sample rate in Hz (default 48000)\n"
    "  -o, --output FILE    .wav (16-bit; 32-bit float with --float), .flac, .ogg or .aiff;\n"
    "                       default MESSAGE.wav. '-' writes raw float32 little-endian\n"
    "                       samples to stdout:  quorlax encode hello1234 -o - | aplay -f FLOAT_LE -r 48000\n"
    "  --float              32-bit float samples in .wav and .aiff files\n"
    "  --melody NOTES       blend a melody in, one note per character (0-9, a-v)\n"
    "  --synth              blend a random melody in; --volume DB sets its gain, from -60\n"
    "                       to 0 dB (0, the default: as loud as the tones)\n"
    "\n"
    "A file appears only once it is complete; a failed write leaves nothing behind.\n";

}  // namespace

const Command kEncodeCommand = {
    "encode", "write one transmission of a message to a sound file (or stdout)", kEncodeHelp,
    {"-m", "-r", "-o", "--melody", "--synth", "--volume", "--float", "--base", "--separation"}, RunEncode};

}  // namespace cli
