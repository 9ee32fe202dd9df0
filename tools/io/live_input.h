// Live inputs for listen: a sound device as it captures, and standard input
// as it arrives (a WAV stream, or raw samples through raw_samples.h). Each
// ends at a stop signal (stop.h).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/sample_source.h"
#include "io/sound_file.h"

namespace quorlax_device {
class Capture;
}

namespace cli {

// Without a sound device named, listen reads standard input; where that holds
// nothing (nohup, a service), this says how to name one.
extern const char kNameADevice[];

// Reads standard input with read(2), so samples are handed on as they come:
// bytes read, 0 at its end or once a stop signal came. Throws Error.
size_t ReadStdin(char* buf, size_t size);

// Captured samples until a stop signal or `limit` samples (-1: none), each
// also written to `recorder` (may be null). Reports overflows as they end,
// says when audio first comes (unless `quiet`), and ends the program when
// the device fails.
std::unique_ptr<LiveSource> OpenCapture(quorlax_device::Capture* capture, int64_t limit, Recorder* recorder,
                                        bool quiet);

// A WAV stream on standard input, read by libsndfile from a pipe of our own
// that a thread fills: it hands on the bytes already looked at (`head`), and
// closes the pipe when a stop signal comes, which libsndfile sees as the end.
// The first channel, for `seconds` (0: all). Throws Error.
class WavStdinSource : public LiveSource {
 public:
  WavStdinSource(std::string head, double seconds);
  ~WavStdinSource() override;

  size_t Read(float* out, size_t max) override;
  int Rate() const override { return rate_; }
  int Format() const { return format_; }  // libsndfile's
  const std::string& What() const override { return what_; }
  double ReachedInput() const override { return static_cast<double>(read_); }

 private:
  void Pump(const std::string& head);
  bool WriteAll(const char* p, size_t n);
  void Stop();

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

// `live` as a source a converter may own, while the caller keeps asking
// `live` how far its input has got.
std::unique_ptr<SampleSource> Borrowed(LiveSource* live);

}  // namespace cli
