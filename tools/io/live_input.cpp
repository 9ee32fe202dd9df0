#include "io/live_input.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli.h"
#include "io/stop.h"
#include "quorlax_device.h"

namespace cli {
namespace {

namespace qd = quorlax_device;

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

class BorrowedSource : public SampleSource {
 public:
  explicit BorrowedSource(LiveSource* live) : live_(live) {}
  size_t Read(float* out, size_t max) override { return live_->Read(out, max); }
  int Rate() const override { return live_->Rate(); }
  int64_t Length() const override { return -1; }

 private:
  LiveSource* live_;
};

}  // namespace

const char kNameADevice[] = "to listen to a sound device, name it: --device default (see quorlax devices)";

size_t ReadStdin(char* buf, size_t size) {
  for (;;) {
    if (!WaitForInput(STDIN_FILENO, "standard input")) return 0;
    const ssize_t n = ::read(STDIN_FILENO, buf, size);
    if (n >= 0) return static_cast<size_t>(n);
    // nohup leaves a terminal's standard input open for writing only.
    if (errno == EBADF) throw Error(std::string("standard input cannot be read; ") + kNameADevice);
    if (errno != EINTR && errno != EAGAIN)
      throw Error(std::string("cannot read standard input: ") + std::strerror(errno));
  }
}

std::unique_ptr<LiveSource> OpenCapture(qd::Capture* capture, int64_t limit, Recorder* recorder, bool quiet) {
  return std::unique_ptr<LiveSource>(new CaptureSource(capture, limit, recorder, quiet));
}

std::unique_ptr<SampleSource> Borrowed(LiveSource* live) {
  return std::unique_ptr<SampleSource>(new BorrowedSource(live));
}

WavStdinSource::WavStdinSource(std::string head, double seconds) {
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

WavStdinSource::~WavStdinSource() { Stop(); }

size_t WavStdinSource::Read(float* out, size_t max) {
  if (limit_ >= 0) max = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(max), limit_ - read_));
  if (max == 0) return 0;
  const size_t want = std::min<size_t>(max, 4096);
  frames_.resize(want * channels_);
  const sf_count_t got = sf_readf_float(file_, frames_.data(), static_cast<sf_count_t>(want));
  for (sf_count_t i = 0; i < got; ++i) out[i] = frames_[static_cast<size_t>(i) * channels_];
  read_ += std::max<sf_count_t>(got, 0);
  return static_cast<size_t>(std::max<sf_count_t>(got, 0));
}

void WavStdinSource::Pump(const std::string& head) {
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
    size_t n;
    try {
      n = ReadStdin(buf, sizeof buf);
    } catch (const Error&) {
      n = 0;
    }
    if (n == 0) break;
    ok = WriteAll(buf, n);
  }
  ::close(write_fd_);
}

bool WavStdinSource::WriteAll(const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(write_fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

void WavStdinSource::Stop() {
  quit_.store(true);
  if (file_ != nullptr) sf_close(file_);  // opened without taking read_fd_ over
  file_ = nullptr;
  // Closing the read end makes a pump blocked in write() see EPIPE.
  if (read_fd_ >= 0) ::close(read_fd_);
  read_fd_ = -1;
  if (pump_.joinable()) {
    cli::Stop();  // wakes a pump waiting for input
    pump_.join();
  }
}

}  // namespace cli
