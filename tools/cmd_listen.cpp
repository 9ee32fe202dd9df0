#include "cmd_device.h"
#include "commands.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ZunCoreLib_api.h"
#include "audio_io.h"
#include "cli.h"
#include "decode_stream.h"
#include "quorlax_device.h"
#include "report.h"

namespace cli {
namespace {

namespace qd = quorlax_device;


// Where this command's own messages go: the real stderr, also once the
// sound libraries' chatter has been sent to /dev/null.
std::FILE* g_diag = stderr;

void Say(const std::string& line) {
  std::fprintf(g_diag, "quorlax: %s\n", line.c_str());
  std::fflush(g_diag);
}

// A device that fails while streaming ends the program at once: tearing
// down what is left of it could wait on a sound system that is gone.
[[noreturn]] void Fatal(const std::string& line) {
  std::fflush(stdout);
  Say(line);
  ::_exit(kExitUsage);
}

// Ctrl-C and SIGTERM end listening and playing cleanly: the handler only
// raises a flag and wakes whatever polls the stop pipe.
std::atomic<bool> g_stop{false};
int g_stop_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
  g_stop.store(true);
  if (g_stop_pipe[1] >= 0) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &c, 1);
  }
}

void CatchStopSignals() {
  if (g_stop_pipe[0] < 0 && ::pipe(g_stop_pipe) == 0) {
    for (int fd : g_stop_pipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(g_stop_pipe[1], F_SETFL, O_NONBLOCK);
  }
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read returns EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// A sound system that stops answering must not hang the program: past its
// deadline this ends the process with one line and exit status 2.
class Watchdog {
 public:
  Watchdog(double seconds, std::string what) : what_(std::move(what)) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
        std::fprintf(g_diag, "quorlax: %s did not answer within %.0f s\n", what_.c_str(), seconds);
        std::fflush(g_diag);
        std::fflush(stdout);
        ::_exit(kExitUsage);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// Options

struct DeviceOptions {
  std::vector<std::string> args;
  ModeChoice mode;
  bool mode_given = false;
  int rate = 0;
  std::string device;
  bool device_given = false;
  int repeat = 1;
  double gap_s = 1.0;
  std::string format;  // listen on stdin: "", "f32", "s16", "wav"
  std::string save;
  double seconds = 0.0;  // 0: until stopped
  int count = 0;         // 0: no limit; else stop once this many messages passed
  bool json = false;
  bool all = false;
  bool quiet = false;
  bool verbose = false;
};

// The options the shared parser checked, with the device commands' own ones read.
DeviceOptions FromOptions(const Options& given) {
  DeviceOptions o;
  o.args = given.args;
  o.mode = given.mode;
  o.mode_given = given.mode_given;
  o.rate = given.rate;
  o.json = given.json;
  o.all = given.failed;
  o.quiet = given.quiet;
  o.verbose = given.verbose;
  if (given.Has("-d")) {
    o.device = given.given.at("-d");
    if (o.device.empty()) throw Error("--device needs a NAME or INDEX (see quorlax devices)");
    o.device_given = true;
  }
  if (given.Has("--repeat")) o.repeat = ParseInt("--repeat", given.given.at("--repeat"), 1, qd::kMaxRepeat);
  if (given.Has("--gap")) {
    o.gap_s = ParseFloat("--gap", given.given.at("--gap"));
    if (o.gap_s < 0.0 || o.gap_s > qd::kMaxGapSeconds)
      throw Error("--gap is from 0 to " + std::to_string(static_cast<int>(qd::kMaxGapSeconds)) + " seconds");
  }
  if (given.Has("--format")) {
    o.format = given.given.at("--format");
    const std::vector<std::string>& formats = ListenFormats();
    if (std::find(formats.begin(), formats.end(), o.format) == formats.end())
      throw Error("--format is f32, s16 or wav, not '" + o.format + "'");
  }
  if (given.Has("--save")) {
    o.save = given.given.at("--save");
    if (o.save.empty()) throw Error("--save needs a file name");
    SoundFormatFor(o.save, kDefaultRate, true);  // a name that says no format is refused before listening
  }
  if (given.Has("--count")) o.count = ParseInt("--count", given.given.at("--count"), 1, 1000000);
  if (given.Has("--seconds")) {
    o.seconds = ParseFloat("--seconds", given.given.at("--seconds"));
    // Bounded so that seconds times any rate still counts in 64-bit samples.
    if (o.seconds <= 0.0 || o.seconds > 1e9) throw Error("--seconds needs a duration above 0 and at most 1e9");
  }
  return o;
}

// ---------------------------------------------------------------------------
// play

// The device's own rate when the mode works there, else the common default.
int PlayRate(const DeviceOptions& o, const ModeChoice& choice, const qd::DeviceInfo& device) {
  return o.rate > 0 ? o.rate : DecodingRateFor(choice, device.default_rate);
}

int RunPlay(const DeviceOptions& o) {
  if (o.args.empty()) throw Error("play needs a MESSAGE of 9 characters (0-9, a-v)");
  if (o.args.size() > 1) throw Error("play takes one MESSAGE; unexpected '" + o.args[1] + "'");
  CheckMessage(o.args[0]);
  ModeChoice choice = o.mode;
  if (!o.mode_given) choice.mode = QUORLAX_MODE_AUDIBLE;
  g_diag = qd::QuietLibraryOutput();
  CatchStopSignals();
  std::unique_ptr<Watchdog> watch(new Watchdog(20.0, "the sound system"));
  std::unique_ptr<qd::Session> session(new qd::Session);
  const qd::DeviceInfo& device = session->Find(o.device_given ? o.device : "default", false);
  const int rate = PlayRate(o, choice, device);
  const std::vector<float> one = EncodeMessage(o.args[0], choice, rate);
  const size_t gap = static_cast<size_t>(o.gap_s * rate);
  watch.reset();
  try {
    qd::Play(*session, device, one.data(), one.size(), rate, &g_stop, o.repeat, gap);
  } catch (const qd::DeviceError& e) {
    Fatal(e.what());
  }
  Watchdog closing(10.0, "the sound system");
  session.reset();
  return kExitFound;
}

// ---------------------------------------------------------------------------
// devices

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

int RunDevices(const DeviceOptions& o) {
  if (!o.args.empty()) throw Error("devices takes no arguments");
  g_diag = qd::QuietLibraryOutput();
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

// ---------------------------------------------------------------------------
// listen

// Appends what was heard to a sound file in the format its name says (float
// samples where the format has them), so a session can be looked at later.
class Recorder {
 public:
  Recorder(const std::string& path, int rate) : path_(path) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SoundFormatFor(path, rate, true);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) throw Error("cannot write '" + path + "': " + sf_strerror(nullptr));
    // Keep a WAV or AIFF header current, so the file is whole even if the
    // program is cut short (Ogg has no such header, and is spoilt by trying).
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_AIFF)
      sf_command(file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
  }
  ~Recorder() { sf_close(file_); }
  void Write(const float* x, size_t n) {
    if (sf_writef_float(file_, x, static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
      throw Error("cannot write '" + path_ + "': " + sf_strerror(file_));
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
};

// Where the samples come from and how many of them have reached the input.
class LiveSource : public SampleSource {
 public:
  virtual const std::string& What() const = 0;
  // Samples that have reached the input, also those not yet read.
  virtual double ReachedInput() const = 0;
};

// Captured samples, until stopped or a limit; reports overflows as they end.
class CaptureSource : public LiveSource {
 public:
  CaptureSource(qd::Capture* capture, int64_t limit, Recorder* recorder, bool quiet)
      : capture_(capture), limit_(limit), recorder_(recorder), quiet_(quiet) {
    what_ = "'" + capture->DeviceName() + "'";
  }
  ~CaptureSource() override { ReportOverflow(true); }

  size_t Read(float* out, size_t max) override {
    for (;;) {
      if (limit_ >= 0 && read_ >= limit_) return 0;
      size_t n = 0;
      try {
        n = capture_->Read(out, max, 0.1, &g_stop);
      } catch (const qd::DeviceError& e) {
        ReportOverflow(true);
        Fatal(e.what());
      }
      ReportOverflow(false);
      if (n > 0 && !announced_) {
        announced_ = true;
        if (!quiet_)
          Say("listening on " + what_ + " at " + std::to_string(capture_->Rate()) + " Hz (Ctrl-C ends)");
      }
      if (limit_ >= 0) n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), limit_ - read_));
      if (n > 0) {
        read_ += static_cast<int64_t>(n);
        if (recorder_ != nullptr) recorder_->Write(out, n);
        return n;
      }
      if (g_stop.load()) return 0;
    }
  }
  int Rate() const override { return capture_->Rate(); }
  int64_t Length() const override { return -1; }
  const std::string& What() const override { return what_; }
  double ReachedInput() const override {
    return static_cast<double>(capture_->Delivered()) + capture_->InputLatency() * capture_->Rate();
  }

 private:
  void ReportOverflow(bool flush) {
    const int64_t lost = capture_->TakeOverflow(flush);
    if (lost > 0)
      Say("input overflow: " + std::to_string(lost) + " samples (" + std::to_string(lost * 1000 / Rate()) +
          " ms) lost; listening goes on");
  }

  qd::Capture* capture_;
  int64_t limit_;
  Recorder* recorder_;
  bool quiet_;
  std::string what_;
  bool announced_ = false;
  int64_t read_ = 0;
};

// Waits for standard input or a stop signal; false once stopped.
bool WaitForStdin() {
  for (;;) {
    if (g_stop.load()) return false;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
    const int r = ::poll(fds, g_stop_pipe[0] >= 0 ? 2 : 1, 500);
    if (r < 0 && errno != EINTR) throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
    if (g_stop.load()) return false;
    if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return true;
  }
}

// Without a sound device named, listen reads standard input; where that holds
// nothing (nohup, a service), this says how to name one.
const char kNameADevice[] = "to listen to a sound device, name it: --device default (see quorlax devices)";

// Reads standard input with read(2) so samples are handed on as they come.
ssize_t ReadStdin(void* buf, size_t size) {
  for (;;) {
    if (!WaitForStdin()) return 0;
    const ssize_t n = ::read(STDIN_FILENO, buf, size);
    if (n >= 0) return n;
    // nohup leaves a terminal's standard input open for writing only.
    if (errno == EBADF) throw Error(std::string("standard input cannot be read; ") + kNameADevice);
    if (errno != EINTR && errno != EAGAIN)
      throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
  }
}

bool LittleEndianHost() {
  const uint16_t probe = 1;
  unsigned char first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// Raw little-endian float32 or int16 mono samples on standard input.
class RawStdinSource : public LiveSource {
 public:
  RawStdinSource(int rate, bool s16, std::string head, int64_t limit)
      : rate_(rate), width_(s16 ? 2 : 4), s16_(s16), bytes_(std::move(head)), limit_(limit) {}

  size_t Read(float* out, size_t max) override {
    if (limit_ >= 0) max = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(max), limit_ - read_));
    while (max > 0) {
      const size_t whole = bytes_.size() / width_;
      if (whole > 0 || eof_) {
        const size_t n = std::min(whole, max);
        for (size_t i = 0; i < n; ++i) out[i] = Sample(bytes_.data() + i * width_);
        bytes_.erase(0, n * width_);
        read_ += static_cast<int64_t>(n);
        return n;  // 0 at the end; a trailing partial sample is dropped
      }
      char buf[16384];
      const ssize_t got = ReadStdin(buf, sizeof buf);
      if (got == 0) eof_ = true;
      bytes_.append(buf, static_cast<size_t>(got));
    }
    return 0;
  }
  int Rate() const override { return rate_; }
  int64_t Length() const override { return -1; }
  const std::string& What() const override { return what_; }
  double ReachedInput() const override { return static_cast<double>(read_); }

 private:
  float Sample(const char* p) const {
    unsigned char b[4] = {};
    for (size_t i = 0; i < width_; ++i) b[i] = static_cast<unsigned char>(p[little_ ? i : width_ - 1 - i]);
    if (s16_) {
      int16_t v;
      std::memcpy(&v, b, 2);
      return static_cast<float>(v) / 32768.0f;
    }
    float f;
    std::memcpy(&f, b, 4);
    return f;
  }

  int rate_;
  size_t width_;
  bool s16_;
  bool little_ = LittleEndianHost();
  std::string bytes_;
  int64_t limit_;
  int64_t read_ = 0;
  bool eof_ = false;
  std::string what_ = "standard input";
};

// A WAV stream on standard input, read by libsndfile from a pipe of our own
// that a thread fills: it hands on the bytes already looked at, and closes
// the pipe when a stop signal comes, which libsndfile sees as the end.
class WavStdinSource : public LiveSource {
 public:
  WavStdinSource(std::string head, double seconds) {
    int fds[2];
    if (::pipe(fds) != 0) throw Error(std::string("cannot make a pipe: ") + std::strerror(errno));
    read_fd_ = fds[0];
    write_fd_ = fds[1];
    pump_ = std::thread([this, head] { Pump(head); });
    SF_INFO info{};
    file_ = sf_open_fd(read_fd_, SFM_READ, &info, SF_FALSE);
    if (file_ == nullptr) {
      const std::string why = sf_strerror(nullptr);
      Stop();
      throw Error("cannot read the WAV stream on standard input: " + why);
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    format_ = info.format;
    if (rate_ <= 0 || channels_ <= 0) {
      Stop();
      throw Error("the WAV stream on standard input holds no audio");
    }
    limit_ = seconds > 0.0 ? static_cast<int64_t>(seconds * rate_) : -1;
  }
  ~WavStdinSource() override { Stop(); }

  size_t Read(float* out, size_t max) override {
    if (limit_ >= 0) max = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(max), limit_ - read_));
    if (max == 0) return 0;
    const size_t want = std::min<size_t>(max, 4096);
    frames_.resize(want * channels_);
    const sf_count_t got = sf_readf_float(file_, frames_.data(), static_cast<sf_count_t>(want));
    for (sf_count_t i = 0; i < got; ++i) out[i] = frames_[static_cast<size_t>(i) * channels_];
    read_ += std::max<sf_count_t>(got, 0);
    return static_cast<size_t>(std::max<sf_count_t>(got, 0));
  }
  int Rate() const override { return rate_; }
  int Format() const { return format_; }
  int64_t Length() const override { return -1; }
  const std::string& What() const override { return what_; }
  double ReachedInput() const override { return static_cast<double>(read_); }

 private:
  void Pump(const std::string& head) {
    // Signals belong to the main thread; a reader gone away gives EPIPE here.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    bool ok = WriteAll(head.data(), head.size());
    char buf[16384];
    while (ok && !quit_.load()) {
      ssize_t n;
      try {
        n = ReadStdin(buf, sizeof buf);
      } catch (const Error&) {
        n = 0;
      }
      if (n <= 0) break;
      ok = WriteAll(buf, static_cast<size_t>(n));
    }
    ::close(write_fd_);
  }
  bool WriteAll(const char* p, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(write_fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }
  void Stop() {
    quit_.store(true);
    if (file_ != nullptr) sf_close(file_);  // opened without taking read_fd_ over
    file_ = nullptr;
    // Closing the read end makes a pump blocked in write() see EPIPE.
    if (read_fd_ >= 0) ::close(read_fd_);
    read_fd_ = -1;
    if (pump_.joinable()) {
      OnStopSignal(0);  // wake a pump waiting for input
      pump_.join();
    }
  }

  int read_fd_ = -1, write_fd_ = -1;
  std::thread pump_;
  std::atomic<bool> quit_{false};
  SNDFILE* file_ = nullptr;
  int rate_ = 0, channels_ = 0, format_ = 0;
  std::vector<float> frames_;
  int64_t limit_ = -1;
  int64_t read_ = 0;
  std::string what_ = "standard input";
};

// Hands samples on to the decoding loop; tells the live source's position.
class Tap : public SampleSource {
 public:
  explicit Tap(LiveSource* live) : live_(live) {}
  size_t Read(float* out, size_t max) override { return live_->Read(out, max); }
  int Rate() const override { return live_->Rate(); }
  int64_t Length() const override { return -1; }

 private:
  LiveSource* live_;
};

// The listener hears every band of the mode at once; messages come out as
// soon as they complete, with sample-exact positions.
class Listener {
 public:
  Listener(const ModeChoice& choice, int rate, bool report_failed) : rate_(rate) {
    int err = 0;
    l_ = QUORLAX_ListenerCreate(choice.mode, static_cast<float>(rate), &err);
    if (l_ == nullptr) throw Error(ConfigureErrorText(err == 0 ? QUORLAX_ERROR_UNSUPPORTED : err, choice, rate));
    if (choice.mode == QUORLAX_MODE_CUSTOM) {
      const int r = QUORLAX_ListenerSetCustom(l_, choice.base_hz, choice.separation);
      if (r != QUORLAX_OK) {
        QUORLAX_ListenerDestroy(l_);
        throw Error(ConfigureErrorText(r, choice, rate));
      }
    }
    QUORLAX_ListenerReportFailed(l_, report_failed ? 1 : 0);
  }
  ~Listener() { QUORLAX_ListenerDestroy(l_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  void Push(const float* x, size_t n) { Check(QUORLAX_ListenerPush(l_, x, static_cast<int>(n))); }
  void Flush() { Check(QUORLAX_ListenerFlush(l_)); }
  bool Next(QUORLAX_Message* m) {
    const int r = QUORLAX_ListenerNext(l_, m);
    Check(r < 0 ? r : 0);
    return r == 1;
  }
  int Rate() const { return rate_; }

 private:
  static void Check(int r) {
    if (r < 0) throw Error(std::string("listener: ") + QUORLAX_GetErrorText(r));
  }
  QUORLAX_Listener* l_ = nullptr;
  int rate_;
};

ModeChoice ListenMode(const DeviceOptions& o) {
  ModeChoice choice = o.mode;
  if (!o.mode_given) choice.mode = QUORLAX_MODE_ALL;
  return choice;
}

// Listening at a rate where no band fits would hear nothing, for ever.
void CheckListenRate(const DeviceOptions& o, int rate) {
  const std::string no_band = NoBandFitsAt(ListenMode(o), rate);
  if (!no_band.empty()) throw Error("cannot listen: " + no_band);
}

// Decodes until the source ends, printing each message as it completes.
int Decode(LiveSource* live, const DeviceOptions& o) {
  const ModeChoice choice = ListenMode(o);
  const int rate = DecodingRateFor(choice, live->Rate());
  std::unique_ptr<SampleSource> input = Resample(std::unique_ptr<SampleSource>(new Tap(live)), rate);
  Listener listener(choice, rate, o.all);
  int passed = 0;
  auto drain = [&] {
    QUORLAX_Message q;
    while (listener.Next(&q)) {
      Message m;
      m.text = q.text;
      m.ok = q.ok != 0;
      m.band = q.band;
      m.confidence = q.confidence;
      m.level_db = q.level_db;
      m.time_s = static_cast<double>(q.start) / rate;
      if (m.ok) ++passed;
      PrintLine(FormatMessage(m, o.json));
      if (o.verbose) {
        // In the input's own samples, so they compare with --save.
        const double scale = static_cast<double>(live->Rate()) / rate;
        char line[200];
        std::snprintf(line, sizeof line, "printed %s when %.0f samples had reached the input (its end: sample %.0f)",
                      m.text.c_str(), live->ReachedInput(), static_cast<double>(q.end) * scale);
        Say(line);
      }
    }
  };
  const auto counted = [&] { return o.count > 0 && passed >= o.count; };
  std::vector<float> buf(4096);
  while (!counted()) {
    const size_t n = input->Read(buf.data(), buf.size());
    if (n == 0) break;
    listener.Push(buf.data(), n);
    drain();
  }
  if (!counted()) {
    listener.Flush();
    drain();
  }
  return passed > 0 ? kExitFound : kExitNothing;
}

// -r and --format given with a WAV stream must say what its header says.
void CheckWavAgrees(const DeviceOptions& o, const WavStdinSource& wav) {
  if (o.rate > 0 && o.rate != wav.Rate())
    throw Error("-r " + std::to_string(o.rate) + " disagrees with the WAV stream on standard input, which runs at " +
                std::to_string(wav.Rate()) + " Hz (a WAV stream names its own rate: leave -r out)");
  const int subtype = wav.Format() & SF_FORMAT_SUBMASK;
  const bool agrees = o.format.empty() || o.format == "wav" ||
                      (o.format == "s16" && subtype == SF_FORMAT_PCM_16) ||
                      (o.format == "f32" && subtype == SF_FORMAT_FLOAT);
  if (!agrees)
    throw Error("--format " + o.format + " disagrees with the WAV stream on standard input, which holds " +
                (subtype == SF_FORMAT_PCM_16 ? std::string("16-bit") : subtype == SF_FORMAT_FLOAT ? "float32" : "other") +
                " samples (a WAV stream names its own format: leave --format out)");
}

int RunListen(const DeviceOptions& o) {
  if (!o.args.empty()) throw Error("listen takes no arguments; unexpected '" + o.args[0] + "'");
  const bool from_device = o.device_given || isatty(STDIN_FILENO);
  CatchStopSignals();
  if (from_device) {
    if (!o.format.empty()) throw Error("--format describes standard input; it does not apply to a device");
    if (o.rate > 0) CheckListenRate(o, o.rate);
    g_diag = qd::QuietLibraryOutput();
    std::unique_ptr<Watchdog> watch(new Watchdog(20.0, "the sound system"));
    std::unique_ptr<qd::Session> session(new qd::Session);
    const qd::DeviceInfo& device = session->Find(o.device_given ? o.device : "default", true);
    std::unique_ptr<qd::Capture> owned(new qd::Capture(*session, device, o.rate));
    qd::Capture& capture = *owned;
    watch.reset();
    CheckListenRate(o, capture.Rate());
    std::unique_ptr<Recorder> recorder;
    if (!o.save.empty()) recorder.reset(new Recorder(o.save, capture.Rate()));
    if (o.verbose) {
      char line[200];
      std::snprintf(line, sizeof line, "opened '%s' (%s) at %d Hz, input latency %.1f ms", device.name.c_str(),
                    device.host.c_str(), capture.Rate(), capture.InputLatency() * 1000.0);
      Say(line);
    }
    const int64_t limit = o.seconds > 0.0 ? static_cast<int64_t>(o.seconds * capture.Rate()) : -1;
    int status;
    {
      CaptureSource source(&capture, limit, recorder.get(), o.quiet);
      status = Decode(&source, o);
    }
    Watchdog closing(10.0, "the sound system");
    owned.reset();
    session.reset();
    return status;
  }
  if (!o.save.empty()) throw Error("--save records a device; standard input is already a recording");
  // Look at the first bytes: a WAV stream names itself.
  std::string head;
  while (head.size() < 4) {
    char buf[4];
    const ssize_t n = ReadStdin(buf, 4 - head.size());
    if (n <= 0) break;
    head.append(buf, static_cast<size_t>(n));
  }
  if (head.empty() && !g_stop.load())
    throw Error(std::string("standard input holds no audio; ") + kNameADevice);
  // A WAV stream names itself (arecord writes one to a pipe); -r and --format
  // may describe it as well, as long as they agree with it.
  const bool wav_header = head.compare(0, 4, "RIFF") == 0 || head.compare(0, 4, "RF64") == 0;
  std::unique_ptr<LiveSource> source;
  if (wav_header || o.format == "wav") {
    std::unique_ptr<WavStdinSource> wav(new WavStdinSource(head, o.seconds));
    CheckWavAgrees(o, *wav);
    source = std::move(wav);
  } else {
    const int rate = o.rate > 0 ? o.rate : kDefaultRate;
    const int64_t limit = o.seconds > 0.0 ? static_cast<int64_t>(o.seconds * rate) : -1;
    source.reset(new RawStdinSource(rate, o.format == "s16", head, limit));
  }
  CheckListenRate(o, source->Rate());
  return Decode(source.get(), o);
}

// Faults found once a device command runs are reported where Say writes:
// by then the sound libraries' chatter may have been sent to /dev/null.
int RunGuarded(int (*run)(const DeviceOptions&), const Options& given) {
  try {
    const int status = run(FromOptions(given));
    CheckStdout();  // results that did not arrive are no success
    return status;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    Say(e.what());
  }
  return kExitUsage;
}

}  // namespace

const std::vector<std::string>& ListenFormats() {
  static const std::vector<std::string> formats = {"f32", "s16", "wav"};
  return formats;
}

int RunPlayCommand(const Options& o) { return RunGuarded(RunPlay, o); }
int RunListenCommand(const Options& o) { return RunGuarded(RunListen, o); }
int RunDevicesCommand(const Options& o) { return RunGuarded(RunDevices, o); }

}  // namespace cli
