#include "scan/pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "decode_stream.h"
#include "io/resample.h"
#include "io/sound_file.h"
#include "report.h"
#include "scan/records.h"
#include "scan/results.h"

namespace cli {
namespace {

// Counts the frames a file hands out before any resampling.
class CountingSource : public SampleSource {
 public:
  CountingSource(std::unique_ptr<SampleSource> inner, int64_t* count) : inner_(std::move(inner)), count_(count) {}
  size_t Read(float* out, size_t max) override {
    const size_t n = inner_->Read(out, max);
    *count_ += static_cast<int64_t>(n);
    return n;
  }
  int Rate() const override { return inner_->Rate(); }
  int Channels() const override { return inner_->Channels(); }
  int64_t Length() const override { return inner_->Length(); }

 private:
  std::unique_ptr<SampleSource> inner_;
  int64_t* count_;  // outlives the source
};

// Every channel of one file through the program's own decoding; its lines,
// its own line last.
std::string ScanFile(const std::string& file, const ModeChoice& choice, bool failed, int progress_fd) {
  std::string lines;
  int messages = 0;
  std::unique_ptr<SampleSource> source = OpenSoundFile(file);
  const SampleSource& read = *source;
  FileSummary summary;
  summary.rate = source->Rate();
  summary.channels = source->Channels();
  const double promised = static_cast<double>(source->Length()) / summary.rate;
  int64_t frames = 0;
  std::unique_ptr<SampleSource> input =
      Resample(std::unique_ptr<SampleSource>(new CountingSource(std::move(source), &frames)),
               DecodingRateFor(choice, summary.rate));
  std::vector<ChannelSink> sinks;
  for (int c = 0; c < summary.channels; ++c) {
    auto sink = [&, c](const Message& m) {
      Message on = m;
      on.channel = c + 1;
      lines += MessageRecord(file, on);
      ++messages;
    };
    sinks.push_back(ChannelSink{c, sink, failed});
  }
  std::function<void(double)> report;
  double reported = 0.0;
  if (progress_fd >= 0 && promised > 0.0)
    report = [&](double fraction) {
      if ((fraction - reported) * promised < 10.0 && fraction < 1.0) return;
      reported = fraction;
      char buf[48];
      const int n = std::snprintf(buf, sizeof buf, "#%.3f\n", fraction * promised);
      if (::write(progress_fd, buf, static_cast<size_t>(n)) < 0) _exit(1);
    };
  DecodeChannels(*input, choice, sinks, report);
  if (frames == 0) throw Error("'" + file + "' holds no audio");
  // What was heard before the damage stands; the file itself is an error.
  const std::string damage = read.Damage();
  if (!damage.empty()) return lines + ErrorRecord(file, "'" + file + "' " + damage);
  summary.seconds = static_cast<double>(frames) / summary.rate;
  return lines + FileRecord(file, summary, messages);
}

// In the child: decode one file, send its lines, never return.
[[noreturn]] void RunWorker(const std::string& file, const ModeChoice& choice, bool failed, int fd, bool progress) {
  std::string lines;
  try {
    lines = ScanFile(file, choice, failed, progress ? fd : -1);
  } catch (const std::exception& e) {
    lines = ErrorRecord(file, e.what());
  }
  try {
    WriteAll(fd, lines, "to the scan");
  } catch (...) {
    _exit(1);
  }
  _exit(0);
}

std::string DescribeEnd(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return std::string("decoding stopped: the worker was killed by signal ") + std::to_string(sig) + " (" +
           strsignal(sig) + ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return "decoding stopped: the worker exited with status " + std::to_string(WEXITSTATUS(status));
  return "decoding stopped: the worker gave incomplete results";
}

}  // namespace

Pool::Pool(const ModeChoice& choice, bool failed, Results* results, StatusLine* progress)
    : choice_(choice), failed_(failed), results_(results), progress_(progress), start_(Clock::now()) {}

Pool::~Pool() {
  // Only after an error: the workers still running are ours to stop.
  for (Worker& w : workers_) {
    ::kill(w.pid, SIGKILL);
    ::waitpid(w.pid, nullptr, 0);
    ::close(w.fd);
  }
}

void Pool::Run(const std::vector<std::string>& files, int jobs) {
  total_ = files.size();
  start_ = Clock::now();
  size_t next = 0;
  while (next < files.size() || !workers_.empty()) {
    while (next < files.size() && static_cast<int>(workers_.size()) < jobs) Start(files[next++]);
    std::vector<pollfd> fds;
    for (const Worker& w : workers_) fds.push_back(pollfd{w.fd, POLLIN, 0});
    const int r = ::poll(fds.data(), fds.size(), 250);
    if (r < 0 && errno != EINTR) throw Error(std::string("poll: ") + std::strerror(errno));
    for (size_t i = fds.size(); i-- > 0;) {
      if (fds[i].revents == 0) continue;
      if (Read(&workers_[i])) continue;
      Finish(workers_[i]);
      workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    Show(false);
  }
  Show(true);
}

void Pool::Start(const std::string& file) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) throw Error(std::string("cannot make a pipe: ") + std::strerror(errno));
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(p[0]);
    ::close(p[1]);
    throw Error(std::string("cannot start a worker: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // A worker outlives no scan, however the scan ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(1);
    ::close(p[0]);
    for (const Worker& w : workers_) ::close(w.fd);
    if (results_->owned()) ::close(results_->fd());
    RunWorker(file, choice_, failed_, p[1], progress_ != nullptr);
  }
  ::close(p[1]);
  Worker w;
  w.pid = pid;
  w.fd = p[0];
  w.file = file;
  workers_.push_back(std::move(w));
}

bool Pool::Read(Worker* w) {
  char buf[65536];
  ssize_t n;
  do {
    n = ::read(w->fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] != '\n') {
      w->partial += buf[i];
      continue;
    }
    if (!w->partial.empty() && w->partial[0] == '#') {
      w->heard = std::atof(w->partial.c_str() + 1);
    } else {
      w->lines += w->partial;
      w->lines += '\n';
    }
    w->partial.clear();
  }
  return true;
}

void Pool::Finish(Worker& w) {
  ::close(w.fd);
  int status = 0;
  while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
  }
  w.fd = -1;
  // Every line must be this file's, its own line last and alone.
  bool complete = WIFEXITED(status) && WEXITSTATUS(status) == 0 && w.partial.empty();
  int passed = 0;
  double seconds = 0.0;
  bool error = false;
  size_t begin = 0;
  RecordInfo info;
  while (complete && begin < w.lines.size()) {
    const size_t end = w.lines.find('\n', begin);
    const std::string line = w.lines.substr(begin, end - begin);
    begin = end + 1;
    complete = ParseRecord(line, &info) && info.file == w.file && info.finished == (begin == w.lines.size());
    if (info.passed) ++passed;
    if (info.finished && !info.error) seconds = info.duration;
    error = info.error;
  }
  if (!complete || w.lines.empty()) {
    w.lines = ErrorRecord(w.file, DescribeEnd(status));
    passed = 0;
    seconds = 0.0;
    error = true;
  }
  results_->Append(w.lines);
  ++done_;
  passed_ += passed;
  seconds_ += seconds;
  if (error) ++errors_;
  w.pid = -1;
}

void Pool::Show(bool force) {
  if (progress_ == nullptr) return;
  const auto now = Clock::now();
  if (!force && now - last_shown_ < std::chrono::milliseconds(250)) return;
  last_shown_ = now;
  double in_flight = 0.0;
  for (const Worker& w : workers_) in_flight += w.heard;
  const double seconds = seconds_ + in_flight, wall = Wall();
  char line[160];
  std::snprintf(line, sizeof line, "%zu of %zu files, %.2f h of audio, %.0fx real time", done_, total_,
                seconds / 3600.0, wall > 0.0 ? seconds / wall : 0.0);
  progress_->Show(line);
}

double Pool::Wall() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

}  // namespace cli
