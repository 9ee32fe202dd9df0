// Sound devices for the quorlax front ends: listing, playing and capturing
// mono float32 audio through PortAudio. The codec library never sees this.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorlax_device {

// One line that tells the user what went wrong with a device.
class DeviceError : public std::runtime_error {
 public:
  explicit DeviceError(const std::string& what) : std::runtime_error(what) {}
};

struct DeviceInfo {
  int index = -1;           // position in Session::Devices()
  std::string name;         // what a NAME given by the user is matched against
  std::string description;  // longer text from the sound server, may be empty
  std::string host;         // "ALSA", "PulseAudio", "JACK", "OSS"
  int input_channels = 0;
  int output_channels = 0;
  int default_rate = 0;     // Hz
  bool default_input = false;   // used when no device is named
  bool default_output = false;
  bool server_default = false;  // the sound server's own default sink or source
};

// PortAudio initialised for the lifetime of the object. Sessions may be
// created on any thread; the device list is read once, at construction.
class Session {
 public:
  Session();  // throws DeviceError
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::vector<DeviceInfo>& Devices() const { return devices_; }

  // "" or "default": the default device; a number: that index; otherwise a
  // name, matched exactly, then as a unique case-insensitive part of the
  // name or description. Throws DeviceError naming what is missing.
  const DeviceInfo& Find(const std::string& name_or_index, bool input) const;

 private:
  std::vector<DeviceInfo> devices_;
  int portaudio_count_ = 0;  // devices_ below this index are PortAudio's own
  friend class Capture;
  friend void Play(const Session&, const DeviceInfo&, const float*, size_t, int, const std::atomic<bool>*, int,
                   size_t);
};

// The most copies Play sends, and the longest silence between two.
constexpr int kMaxRepeat = 10000;
constexpr double kMaxGapSeconds = 3600.0;

// Plays mono samples at `rate` Hz, `repeat` times with `gap` samples of
// silence between copies, and returns once the device has played them, or
// early when `*stop` turns true. Throws std::invalid_argument for a repeat or
// gap beyond the bounds above, DeviceError when the device cannot be opened
// at that rate or stops playing.
void Play(const Session& session, const DeviceInfo& device, const float* samples, size_t count, int rate,
          const std::atomic<bool>* stop = nullptr, int repeat = 1, size_t gap = 0);

// Captures mono audio into a ring buffer filled by PortAudio's callback.
// The callback only copies into the ring; a full ring drops the newest input
// and counts it. One reader thread at a time.
class Capture {
 public:
  // rate 0: the device's default rate. Throws DeviceError.
  Capture(const Session& session, const DeviceInfo& device, int rate = 0, double ring_seconds = 8.0);
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  int Rate() const;
  // Seconds between a sample reaching the input and the callback, as PortAudio reports it.
  double InputLatency() const;
  const std::string& DeviceName() const;

  // Up to `max` samples; waits at most `timeout_s` for the first of them and
  // returns 0 if none came (or `*stop` turned true). Throws DeviceError when
  // the device stopped or sent nothing for several seconds.
  size_t Read(float* out, size_t max, double timeout_s, const std::atomic<bool>* stop = nullptr);

  // True once the device has delivered its first samples.
  bool Running() const;
  // Samples the device has delivered so far, dropped ones included.
  int64_t Delivered() const;

  // Samples lost in a burst of overflows that has ended (no loss for a
  // quarter of a second), or in one still going on when `flush` is true;
  // 0 when there is nothing to report. Call from the reader's thread.
  int64_t TakeOverflow(bool flush = false);

  void Close();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Sends PortAudio's, ALSA's and JACK's own chatter on stderr to /dev/null for
// the rest of the process and returns a stream on the original stderr for
// the caller's messages. For programs; a library host should not call it.
std::FILE* QuietLibraryOutput();

}  // namespace quorlax_device
