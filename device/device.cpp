#include "quorlax_device.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#if defined(QUORLAX_DEVICE_HAVE_ALSA) && __has_include(<pa_linux_alsa.h>)
#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#define QUORLAX_DEVICE_ALSA 1
#endif

#include "muted_stderr.h"
#include "ring.h"
#include "server_devices.h"

#ifdef QUORLAX_DEVICE_PORTAUDIO_DIAGNOSTICS
// PortAudio's hook for its diagnostics (pa_debugprint.h, which Debian does not install).
extern "C" {
typedef void (*PaUtilLogCallback)(const char* log);
void PaUtil_SetDebugPrintFunction(PaUtilLogCallback cb);
}
#endif

namespace quorlax_device {
namespace {

#ifdef QUORLAX_DEVICE_PORTAUDIO_DIAGNOSTICS
// What PortAudio's threads say about a failing device ("Expression ... failed
// in pa_linux_alsa.c") comes to us as a DeviceError from the reader instead.
extern "C" void IgnorePortAudioDiagnostic(const char*) {}
#endif

using Clock = std::chrono::steady_clock;

// PortAudio's set-up and tear-down are not thread-safe, and they are where
// the host libraries print most of their chatter: muted while
// g_portaudio_mutex is held, unless QuietLibraryOutput has muted fd 2 for good.
std::mutex g_portaudio_mutex;
bool g_quiet = false;

#ifdef QUORLAX_DEVICE_ALSA
// PortAudio's ALSA host fails an assertion and aborts the process where ALSA
// has no configuration at all (a container or a minimal root without
// alsa.conf); there is no device to find there anyway. Hold g_portaudio_mutex.
bool AlsaHasDevices() {
  MutedStderr quiet(!g_quiet);
  snd_config_t* pcm = nullptr;
  return snd_config_update() >= 0 && snd_config != nullptr && snd_config_search(snd_config, "pcm", &pcm) >= 0;
}
#endif

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Quoted(const DeviceInfo& d) { return "'" + d.name + "'"; }

const char* Direction(bool input) { return input ? "input" : "output"; }

bool Serves(const DeviceInfo& d, bool input) { return (input ? d.input_channels : d.output_channels) > 0; }

std::string HostErrorText() {
  const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
  if (info != nullptr && info->errorText != nullptr && info->errorText[0] != '\0') return info->errorText;
  return "error in the sound system";
}

[[noreturn]] void ThrowOpenError(PaError e, const DeviceInfo& d, bool input, int rate) {
  const std::string who = std::string(Direction(input)) + " device " + Quoted(d);
  switch (e) {
    case paInvalidSampleRate:
      throw DeviceError(who + " refuses " + std::to_string(rate) + " Hz");
    case paDeviceUnavailable:
      throw DeviceError(who + " is busy or unavailable (is another program using it?)");
    case paInvalidChannelCount:
      throw DeviceError(who + " has no " + Direction(input) + " channel");
    case paUnanticipatedHostError: {
      const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
      if (info != nullptr && info->errorCode == -16)  // -EBUSY from ALSA
        throw DeviceError(who + " is busy (is another program using it?)");
      throw DeviceError("cannot open " + who + ": " + HostErrorText());
    }
    default:
      throw DeviceError("cannot open " + who + " at " + std::to_string(rate) + " Hz: " + Pa_GetErrorText(e));
  }
}

// Stream parameters for a device, which may be a sound-server device that
// only ALSA's pulse plugin reaches by name.
struct Target {
  PaStreamParameters params{};
#ifdef QUORLAX_DEVICE_ALSA
  PaAlsaStreamInfo alsa{};
#endif
  std::string alsa_name;

  Target(const DeviceInfo& d, int portaudio_count, bool input, int channels) {
    params.channelCount = channels;
    params.sampleFormat = paFloat32;
    params.hostApiSpecificStreamInfo = nullptr;
    if (d.index < portaudio_count) {
      params.device = d.index;
      const PaDeviceInfo* info = Pa_GetDeviceInfo(d.index);
      params.suggestedLatency = input ? info->defaultLowInputLatency : info->defaultHighOutputLatency;
    } else {
#ifdef QUORLAX_DEVICE_ALSA
      alsa_name = "pulse:DEVICE=\"" + d.name + "\"";
      PaAlsa_InitializeStreamInfo(&alsa);
      alsa.deviceString = alsa_name.c_str();
      params.device = paUseHostApiSpecificDeviceSpecification;
      params.hostApiSpecificStreamInfo = &alsa;
#endif
      params.suggestedLatency = 0.0;
    }
    // Short buffers overflow (input) or run dry mid-transmission (output) on a
    // busy machine. Input latency adds to the time to print a message, so it
    // stays small; output latency only delays the start of a transmission.
    params.suggestedLatency = std::max(params.suggestedLatency, input ? 0.05 : 0.2);
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
};

// Opens mono when the device allows it, else its first two channels.
PaStream* OpenStream(const DeviceInfo& d, int portaudio_count, bool input, int rate, PaStreamCallback* callback,
                     void* user, int* channels) {
  PaError e = paNoError;
  for (int ch : {1, 2}) {
    if (ch > (input ? d.input_channels : d.output_channels)) break;
    Target t(d, portaudio_count, input, ch);
    PaStream* stream = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_portaudio_mutex);
      MutedStderr quiet(!g_quiet);
      e = Pa_OpenStream(&stream, input ? &t.params : nullptr, input ? nullptr : &t.params, rate,
                        paFramesPerBufferUnspecified, paClipOff, callback, user);
    }
    if (e == paNoError) {
      *channels = ch;
      return stream;
    }
    if (e != paInvalidChannelCount) break;
  }
  ThrowOpenError(e, d, input, rate);
}

void CloseStream(PaStream* stream) {
  std::lock_guard<std::mutex> lock(g_portaudio_mutex);
  MutedStderr quiet(!g_quiet);
  Pa_AbortStream(stream);
  Pa_CloseStream(stream);
}

std::string NoDeviceText(bool input) {
  return std::string("no sound ") + Direction(input) +
         " device found (no sound card, or its sound server is not running)";
}

}  // namespace

// ---------------------------------------------------------------------------

Session::Session() {
  std::lock_guard<std::mutex> lock(g_portaudio_mutex);
  // libjack would otherwise try to start a JACK server of its own.
  ::setenv("JACK_NO_START_SERVER", "1", 0);
#ifdef QUORLAX_DEVICE_ALSA
  if (!AlsaHasDevices())
    throw DeviceError("no sound devices: ALSA's configuration defines none (is its alsa.conf installed?)");
#endif
#ifdef QUORLAX_DEVICE_PORTAUDIO_DIAGNOSTICS
  PaUtil_SetDebugPrintFunction(IgnorePortAudioDiagnostic);
#endif
  PaError e;
  {
    MutedStderr quiet(!g_quiet);
    e = Pa_Initialize();
  }
  if (e != paNoError) throw DeviceError(std::string("cannot start PortAudio: ") + Pa_GetErrorText(e));
  const int count = std::max(0, static_cast<int>(Pa_GetDeviceCount()));
  const int default_in = Pa_GetDefaultInputDevice(), default_out = Pa_GetDefaultOutputDevice();
  bool pulse_plugin = false;
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
    DeviceInfo d;
    d.index = i;
    d.name = info->name != nullptr ? info->name : "";
    d.host = host != nullptr && host->name != nullptr ? host->name : "";
    d.input_channels = info->maxInputChannels;
    d.output_channels = info->maxOutputChannels;
    d.default_rate = static_cast<int>(std::lround(info->defaultSampleRate));
    d.default_input = i == default_in;
    d.default_output = i == default_out;
    if (host != nullptr && host->type == paALSA && d.name == "pulse") pulse_plugin = true;
    devices_.push_back(d);
  }
  portaudio_count_ = count;
#ifdef QUORLAX_DEVICE_ALSA
  if (pulse_plugin) {
    for (const ServerDevice& s : ListServerDevices(2.0)) {
      DeviceInfo d;
      d.index = static_cast<int>(devices_.size());
      d.name = s.name;
      d.description = s.description;
      d.host = "PulseAudio";
      (s.input ? d.input_channels : d.output_channels) = s.channels;
      d.default_rate = s.rate;
      d.server_default = s.is_default;
      devices_.push_back(d);
    }
  }
#else
  (void)pulse_plugin;
#endif
}

Session::~Session() {
  std::lock_guard<std::mutex> lock(g_portaudio_mutex);
  MutedStderr quiet(!g_quiet);
  Pa_Terminate();
}

const DeviceInfo& Session::Find(const std::string& name_or_index, bool input) const {
  std::vector<const DeviceInfo*> usable;
  for (const DeviceInfo& d : devices_)
    if (Serves(d, input)) usable.push_back(&d);
  if (usable.empty()) throw DeviceError(NoDeviceText(input));
  if (name_or_index.empty() || name_or_index == "default") {
    for (const DeviceInfo* d : usable)
      if (input ? d->default_input : d->default_output) return *d;
    for (const DeviceInfo* d : usable)
      if (d->server_default) return *d;
    throw DeviceError(std::string("there is no default ") + Direction(input) +
                      " device; name one with --device (see quorlax devices)");
  }
  if (std::all_of(name_or_index.begin(), name_or_index.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const long i = name_or_index.size() > 6 ? -1 : std::strtol(name_or_index.c_str(), nullptr, 10);
    if (i < 0 || i >= static_cast<long>(devices_.size()))
      throw DeviceError("there is no device " + name_or_index + " (devices 0 to " +
                        std::to_string(devices_.size() - 1) + "; see quorlax devices)");
    const DeviceInfo& d = devices_[static_cast<size_t>(i)];
    if (!Serves(d, input))
      throw DeviceError("device " + name_or_index + " (" + Quoted(d) + ") has no " + Direction(input) + " channel");
    return d;
  }
  for (const DeviceInfo* d : usable)
    if (d->name == name_or_index) return *d;
  const std::string want = Lower(name_or_index);
  std::vector<const DeviceInfo*> found;
  for (const DeviceInfo* d : usable)
    if (Lower(d->name).find(want) != std::string::npos || Lower(d->description).find(want) != std::string::npos)
      found.push_back(d);
  if (found.size() == 1) return *found[0];
  if (found.empty())
    throw DeviceError(std::string("no ") + Direction(input) + " device is called '" + name_or_index +
                      "' (see quorlax devices)");
  std::string names;
  for (const DeviceInfo* d : found) names += (names.empty() ? "" : ", ") + std::to_string(d->index) + " " + Quoted(*d);
  throw DeviceError("'" + name_or_index + "' matches several " + Direction(input) + " devices (" + names +
                    "); give its index");
}

// ---------------------------------------------------------------------------

namespace {

struct PlayState {
  const float* samples;
  size_t count;   // samples of one copy
  size_t period;  // one copy and the silence after it
  size_t total;   // every copy, without silence after the last
  int rate;
  size_t pos = 0;  // callback only
  // Stream time at which the last sample reaches the speaker, once known
  // (0 when the host gives no times); set with `handed`.
  std::atomic<double> dac_end{0.0};
  std::atomic<bool> handed{false};
  int channels = 1;
};

// Plays the copies, then silence until the caller stops the stream: the
// caller waits for the last sample to be heard rather than handed over. The
// copies are read from the one, so any number of them costs no memory.
int PlayCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                 PaStreamCallbackFlags, void* user) {
  auto* p = static_cast<PlayState*>(user);
  float* out = static_cast<float*>(output);
  const size_t before = p->pos;
  for (unsigned long i = 0; i < frames; ++i) {
    float v = 0.0f;
    if (p->pos < p->total) {
      const size_t within = p->pos++ % p->period;
      if (within < p->count) v = p->samples[within];
    }
    for (int c = 0; c < p->channels; ++c) *out++ = v;
  }
  if (p->pos == p->total && !p->handed.load(std::memory_order_relaxed)) {
    const double dac = time != nullptr ? time->outputBufferDacTime : 0.0;
    p->dac_end.store(dac > 0.0 ? dac + static_cast<double>(p->pos - before) / p->rate : 0.0);
    p->handed.store(true, std::memory_order_release);
  }
  return paContinue;
}

}  // namespace

void Play(const Session& session, const DeviceInfo& device, const float* samples, size_t count, int rate,
          const std::atomic<bool>* stop, int repeat, size_t gap) {
  if (repeat < 1 || repeat > kMaxRepeat || static_cast<double>(gap) > kMaxGapSeconds * rate)
    throw std::invalid_argument("play repeats 1 to " + std::to_string(kMaxRepeat) + " times with gaps of 0 to " +
                                std::to_string(static_cast<int>(kMaxGapSeconds)) + " seconds");
  if (count == 0) return;
  const size_t period = count + gap;
  PlayState state{samples, count, period, period * static_cast<size_t>(repeat) - gap, rate};
  PaStream* stream =
      OpenStream(device, session.portaudio_count_, false, rate, PlayCallback, &state, &state.channels);
  struct Closer {
    PaStream* s;
    ~Closer() { CloseStream(s); }
  } closer{stream};
  const PaError e = Pa_StartStream(stream);
  if (e != paNoError)
    throw DeviceError("cannot start output device " + Quoted(device) + ": " + Pa_GetErrorText(e));
  const PaStreamInfo* info = Pa_GetStreamInfo(stream);
  const double latency = info != nullptr ? info->outputLatency : 0.0;
  const std::string gone =
      "output device " + Quoted(device) + " stopped playing (unplugged, or its sound server went away)";
  // The sound lasts count / rate; allow for the device's buffers and a slow start.
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                           static_cast<double>(state.total) / rate + latency + 5.0));
  Clock::time_point handed_at{};
  for (;;) {
    const PaError active = Pa_IsStreamActive(stream);
    if (active == 0) throw DeviceError(gone);
    if (active < 0)
      throw DeviceError("output device " + Quoted(device) + " failed: " + Pa_GetErrorText(active));
    if (stop != nullptr && stop->load()) return;
    const auto now = Clock::now();
    if (now > deadline) throw DeviceError(gone);
    if (state.handed.load(std::memory_order_acquire)) {
      if (handed_at == Clock::time_point{}) handed_at = now;
      const double dac_end = state.dac_end.load();
      // Without the host's clock, the buffer's length is what is left to hear.
      const bool heard = dac_end > 0.0 ? Pa_GetStreamTime(stream) >= dac_end : Seconds(now - handed_at) >= latency;
      if (heard) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// ---------------------------------------------------------------------------

struct Capture::State {
  explicit State(size_t ring_size) : ring(ring_size) {}

  PaStream* stream = nullptr;
  FloatRing ring;
  int rate = 0;
  int channels = 1;
  std::string name;
  double latency = 0.0;
  std::atomic<int64_t> delivered{0};
  std::atomic<int64_t> dropped{0};
  // The callback's own
  double next_adc = 0.0;
  // The reader's own
  bool running = false;
  int64_t seen_dropped = 0;
  int64_t burst = 0;
  Clock::time_point last_drop;
  // Seconds the reader has waited for audio since the last came, counted in
  // the small steps it watches in: a stopped process (Ctrl-Z) or a machine
  // asleep adds one step, not the time it was away.
  double waited = 0.0;
  Clock::time_point last_look;

  static int Callback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags flags, void* user) {
    auto* s = static_cast<State*>(user);
    if (input == nullptr) return paContinue;
    int64_t lost = 0;
    // The host drops input on its own when we fall behind it; its clock
    // tells how much.
    const double adc = time != nullptr ? time->inputBufferAdcTime : 0.0;
    if ((flags & paInputOverflow) != 0 && adc > 0.0 && s->next_adc > 0.0) {
      const double gap = (adc - s->next_adc) * s->rate;
      if (gap > 0.5) lost += static_cast<int64_t>(std::llround(gap));
    }
    s->next_adc = adc > 0.0 ? adc + static_cast<double>(frames) / s->rate : 0.0;
    const size_t kept = s->ring.Write(static_cast<const float*>(input), frames, static_cast<size_t>(s->channels));
    lost += static_cast<int64_t>(frames - kept);
    if (lost > 0) s->dropped.fetch_add(lost, std::memory_order_relaxed);
    s->delivered.fetch_add(static_cast<int64_t>(frames), std::memory_order_release);
    return paContinue;
  }
};

Capture::Capture(const Session& session, const DeviceInfo& device, int rate, double ring_seconds) {
  if (rate <= 0) rate = device.default_rate > 0 ? device.default_rate : 48000;
  // Bounded before it becomes a size: ten minutes is more than any caller lags.
  if (!(ring_seconds <= 600.0) || rate > 1000000)
    throw DeviceError("a capture keeps at most 600 seconds, at rates up to 1000000 Hz");
  const size_t ring = static_cast<size_t>(std::max(0.05, ring_seconds) * rate);
  s_.reset(new State(ring));
  s_->rate = rate;
  s_->name = device.name;
  s_->stream = OpenStream(device, session.portaudio_count_, true, rate, &State::Callback, s_.get(), &s_->channels);
  const PaStreamInfo* info = Pa_GetStreamInfo(s_->stream);
  s_->latency = info != nullptr ? info->inputLatency : 0.0;
  const PaError e = Pa_StartStream(s_->stream);
  if (e != paNoError) {
    CloseStream(s_->stream);
    s_->stream = nullptr;
    throw DeviceError("cannot start input device " + Quoted(device) + ": " + Pa_GetErrorText(e));
  }
  s_->last_look = Clock::now();
}

Capture::~Capture() { Close(); }

void Capture::Close() {
  if (s_ && s_->stream != nullptr) {
    CloseStream(s_->stream);
    s_->stream = nullptr;
  }
}

int Capture::Rate() const { return s_->rate; }
double Capture::InputLatency() const { return s_->latency; }
const std::string& Capture::DeviceName() const { return s_->name; }
bool Capture::Running() const { return s_->running; }
int64_t Capture::Delivered() const { return s_->delivered.load(std::memory_order_acquire); }

// The longest step between two looks at the ring that counts as waiting.
constexpr double kLookStep = 0.1;

size_t Capture::Read(float* out, size_t max, double timeout_s, const std::atomic<bool>* stop) {
  State& s = *s_;
  if (s.stream == nullptr) throw DeviceError("input device '" + s.name + "' is closed");
  const auto start = Clock::now();
  s.last_look = start;
  for (;;) {
    const size_t n = s.ring.Read(out, max);
    const auto now = Clock::now();
    if (n > 0) {
      s.running = true;
      s.waited = 0.0;
      return n;
    }
    if (stop != nullptr && stop->load()) return 0;
    const PaError active = Pa_IsStreamActive(s.stream);
    if (active != 1)
      throw DeviceError("input device '" + s.name + "' stopped (unplugged, or its sound server went away)");
    s.waited += std::min(Seconds(now - s.last_look), kLookStep);
    s.last_look = now;
    // A sound server may take a second or two to send its first block.
    if (s.waited > (s.running ? 3.0 : 10.0))
      throw DeviceError("input device '" + s.name + "' sent no audio for " +
                        std::to_string(static_cast<int>(s.waited)) + " s (unplugged, or its sound server is stuck)");
    if (Seconds(now - start) >= timeout_s) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int64_t Capture::TakeOverflow(bool flush) {
  State& s = *s_;
  const auto now = Clock::now();
  const int64_t total = s.dropped.load(std::memory_order_relaxed);
  if (total > s.seen_dropped) {
    s.burst += total - s.seen_dropped;
    s.seen_dropped = total;
    s.last_drop = now;
  }
  if (s.burst > 0 && (flush || Seconds(now - s.last_drop) > 0.25)) {
    const int64_t lost = s.burst;
    s.burst = 0;
    return lost;
  }
  return 0;
}

std::FILE* QuietLibraryOutput() {
  static std::FILE* own = nullptr;
  std::lock_guard<std::mutex> lock(g_portaudio_mutex);
  if (own != nullptr) return own;
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved < 0 || null_fd < 0) {
    if (saved >= 0) ::close(saved);
    if (null_fd >= 0) ::close(null_fd);
    return stderr;
  }
  ::fcntl(saved, F_SETFD, FD_CLOEXEC);
  own = ::fdopen(saved, "w");
  if (own == nullptr || ::dup2(null_fd, STDERR_FILENO) < 0) {
    ::close(null_fd);
    if (own != nullptr) std::fclose(own);
    own = nullptr;
    return stderr;
  }
  ::close(null_fd);
  std::setvbuf(own, nullptr, _IOLBF, 0);
  g_quiet = true;
  return own;
}

}  // namespace quorlax_device
