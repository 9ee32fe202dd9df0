// quorlax decode: the messages in a sound file, raw samples or a stream on
// standard input.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "decode_stream.h"
#include "io/raw_samples.h"
#include "io/resample.h"
#include "io/sound_file.h"
#include "report.h"
#include "text.h"

namespace cli {
namespace {

const char kDecodeHelp[] =
    "Usage: quorlax decode [FILE|-] [-m MODE] [--channel N|all] [--failed] [--json] [-v] [-q]\n"
    "       quorlax decode [FILE|-] --raw -r RATE [-m MODE] ...\n"
    "\n"
    "Prints the messages in a sound file, or in standard input ('-' or no FILE) as it arrives.\n"
    "Reads any format libsndfile reads, at any rate (converted when the mode cannot work at it).\n"
    "\n" QUORLAX_HELP_MODES "\n"
    "                       (default all)\n"
    "  --raw -r RATE        the input is raw float32 little-endian mono samples at RATE Hz\n"
    "  --channel N|all      decode channel N (from 1; default 1), or every channel with\n"
    "                       each message tagged with its channel\n"
    "  --failed             also print messages that failed their check\n"
    "  --json               one JSON object per message instead of a tab-separated line\n"
    "  -v, --verbose        report front doors and failed readings on stderr as they happen\n"
    "  -q, --quiet          no progress display\n"
    "\n"
    "Each message prints as\n"
    "  TEXT <tab> ok|check-failed <tab> band=NAME <tab> confidence=X <tab> level=Y dB <tab> at=T s\n"
    "where T estimates when the transmission began (and <tab> channel=N with --channel all).\n"
    "When nothing is heard and a reason is known (a rate too low for every band, the signal\n"
    "on another channel, a file cut short), a hint says so on stderr.\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage or input errors.\n";


// What decode prints: messages on stdout, -v reports on stderr.
class Printer {
 public:
  Printer(const Options& o, StatusLine* progress) : o_(o), progress_(progress) {}

  // `tag`: the 1-based channel named in each line, 0 for none.
  ChannelSink For(int channel, int tag) {
    DecodeStream::DoorSink doors = nullptr;
    if (o_.verbose)
      doors = [this, tag](int band, double t) {
        Note("front door at " + SecondsText(t) + " in the " + BandName(band) + " band" + OnChannel(tag));
      };
    return {channel, [this, tag](const Message& m) { Print(m, tag); }, o_.failed || o_.verbose, doors};
  }
  int passed() const { return passed_; }
  int heard() const { return heard_; }

 private:
  void Print(Message m, int tag) {
    ++heard_;
    if (m.ok) ++passed_;
    m.channel = tag;
    if (!m.ok && !o_.failed) {
      if (o_.verbose) Note("reading at " + SecondsText(m.time_s) + " failed its check: " + m.text + " in the " +
                           BandName(m.band) + " band" + OnChannel(tag));
      return;
    }
    if (progress_ != nullptr) progress_->Clear();
    PrintLine(FormatMessage(m, o_.json));
  }
  void Note(const std::string& line) {
    if (progress_ != nullptr) progress_->Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "quorlax: %s\n", line.c_str());
  }
  static std::string OnChannel(int tag) { return tag > 0 ? " on channel " + std::to_string(tag) : ""; }

  const Options& o_;
  StatusLine* progress_;
  int passed_ = 0;
  int heard_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

// Why nothing was heard, when a cause is known; empty otherwise.
std::string Hint(const Options& o, const ModeChoice& choice, int file_rate, const std::string& name,
                 const SampleSource* file, const std::vector<int>& others_heard) {
  const std::string no_band = NoBandFitsAt(choice, file_rate);
  if (!no_band.empty()) return no_band;
  for (size_t c = 0; c < others_heard.size(); ++c)
    if (others_heard[c] > 0)
      return "nothing heard on channel " + std::to_string(o.channel) + ", but channel " + std::to_string(c + 1) +
             " holds a transmission: try --channel " + std::to_string(c + 1);
  const std::string damage = file != nullptr ? file->Damage() : "";
  return damage.empty() ? "" : name + " " + damage;
}

int RunDecode(const Options& o) {
  if (o.args.size() > 1) throw Error("decode takes one FILE; unexpected '" + o.args[1] + "'");
  const std::string path = o.args.empty() ? "-" : o.args[0];
  const std::string name = path == "-" ? std::string("standard input") : "'" + path + "'";
  if (path == "-" && isatty(STDIN_FILENO)) throw Error("no input: name a FILE or pipe audio into standard input");
  const ModeChoice choice = o.ModeOr(QUORLAX_MODE_ALL);
  std::unique_ptr<std::FILE, FileCloser> raw_file;
  std::unique_ptr<SampleSource> source;
  const SampleSource* file = nullptr;
  if (o.raw) {
    if (o.rate <= 0) throw Error("--raw needs the sample rate: -r RATE");
    if (o.channel != 1) throw Error("--raw input is mono; --channel does not apply");
    std::FILE* stream = stdin;
    if (path != "-") {
      raw_file.reset(std::fopen(path.c_str(), "rb"));
      if (!raw_file) throw Error("cannot read '" + path + "': " + std::strerror(errno));
      stream = raw_file.get();
    }
    source = OpenRawSamples(ReadFd(fileno(stream)), o.rate, RawFormat::kFloat32, name);
  } else {
    if (o.rate > 0) throw Error("-r applies to --raw input only; a sound file names its own rate");
    source = OpenSoundFile(path);
    file = source.get();
  }
  const int channels = source->Channels();
  if (o.channel > channels)
    throw Error(name + " has " + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                "; channel " + std::to_string(o.channel) + " does not exist");
  const int file_rate = source->Rate();
  std::unique_ptr<SampleSource> input = Resample(std::move(source), DecodingRateFor(choice, file_rate));

  StatusLine progress(!o.quiet && file != nullptr && input->Length() > 0 && isatty(STDERR_FILENO));
  std::function<void(double)> report;
  if (progress.On())
    report = [&progress](double f) {
      char pct[16];
      std::snprintf(pct, sizeof pct, "%3d%%", static_cast<int>(f * 100.0));
      progress.Show(std::string("decoding ") + pct);
    };
  Printer printer(o, &progress);
  std::vector<ChannelSink> sinks;
  if (o.channel == kAllChannels) {
    for (int c = 0; c < channels; ++c) sinks.push_back(printer.For(c, c + 1));
  } else {
    sinks.push_back(printer.For(o.channel - 1, 0));
  }
  // The other channels are heard too when nothing passes on the chosen one:
  // afterwards from a file, alongside from a stream that cannot go back.
  std::vector<int> others_heard(static_cast<size_t>(channels), 0);
  std::vector<ChannelSink> others;
  if (o.channel != kAllChannels)
    for (int c = 0; c < channels; ++c)
      if (c != o.channel - 1)
        others.push_back({c, [&others_heard, c](const Message&) { ++others_heard[c]; }, true});
  const bool alongside = !others.empty() && input->Length() < 0;
  if (alongside) sinks.insert(sinks.end(), others.begin(), others.end());
  const int64_t frames = DecodeChannels(*input, choice, sinks, report);
  progress.Clear();
  if (frames == 0) throw Error(name + " holds no audio");
  if (printer.passed() > 0) return kExitFound;
  if (!alongside && !others.empty() && input->Rewind()) DecodeChannels(*input, choice, others, nullptr);
  const std::string hint = Hint(o, choice, file_rate, name, file, others_heard);
  if (!hint.empty()) std::fprintf(stderr, "quorlax: hint: %s\n", hint.c_str());
  return kExitNothing;
}

}  // namespace

const Command kDecodeCommand = {
    "decode", "print the messages in a sound file or a stream", kDecodeHelp,
    {"-m", "-r", "--raw", "--json", "-q", "--failed", "-v", "--channel", "--base", "--separation"}, RunDecode};

}  // namespace cli
