// quorlax scan. One forked worker process per file, at most -j at a time: a
// file that crashes its decoder costs that file only, and each worker starts
// from the parent's small image, so memory does not build up over an archive
// (docs/PERFORMANCE.md has the costs). Workers hand their lines to the parent
// through a pipe; the parent alone writes the results, each file's lines in
// one append, its own line last. --resume keeps every finished file and cuts
// off a torn tail, so a scan killed at any moment loses at most the files in
// flight and never repeats a line.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "audio_io.h"
#include "cli.h"
#include "commands.h"
#include "decode_stream.h"
#include "report.h"
#include "scan_records.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

const char kScanHelp[] =
    "Usage: quorlax scan PATH... [-j N] [-m MODE] [--out FILE [--resume]] [--failed] [-q] [--list]\n"
    "\n"
    "Decodes every sound file under the PATHs (files, and folders walked recursively) and\n"
    "writes one JSON line per message heard, then one line per file once it is finished:\n"
    "  {\"file\":F,\"channel\":C,\"start\":S,\"end\":E,\"text\":T,\"ok\":B,\"band\":N,\"level_db\":L,\"confidence\":X}\n"
    "  {\"file\":F,\"duration\":SECONDS,\"rate\":HZ,\"channels\":C,\"messages\":M}\n"
    "  {\"file\":F,\"error\":WHY}          a file that could not be read; the scan goes on\n"
    "start and end are seconds from the beginning of the file; every channel is decoded.\n"
    "In folders, files whose extension names a format libsndfile reads are decoded (names\n"
    "starting with '.' are left out); files named on the command line always are.\n"
    "\n"
    "  -j, --jobs N       worker processes (default: one per core)\n"
    "  -m, --mode MODE    audible, nonaudible, compression, custom or all (default all);\n"
    "                     custom takes --base HZ and --separation N as decode does\n"
    "  -o, --out FILE     append to FILE instead of standard output\n"
    "  --resume           continue the scan that FILE holds: finished files are skipped, the\n"
    "                     unfinished tail of an interrupted scan is dropped and done again\n"
    "                     (files are known by their paths as written: give the same PATHs)\n"
    "  --failed           also report messages that failed their check (\"ok\":false)\n"
    "  -q, --quiet        no progress display (shown only when stderr is a terminal)\n"
    "  --list             print {\"file\":F} for each file the scan would decode, and stop\n"
    "\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage or output errors.\n"
    "Files that could not be read are counted on stderr and do not change the status.\n";

struct ScanOptions {
  std::vector<std::string> paths;
  int jobs = 0;  // 0: one per core
  ModeChoice choice;
  bool failed = false;
  std::string out;  // empty: standard output
  bool resume = false;
  bool quiet = false;
  bool list = false;
};

ScanOptions FromOptions(const Options& o) {
  ScanOptions s;
  s.paths = o.args;
  for (const std::string& p : s.paths)
    if (p == "-") throw Error("scan reads files and folders, not standard input");
  if (s.paths.empty()) throw Error("scan needs at least one file or folder (see quorlax scan -h)");
  if (o.Has("-j")) s.jobs = ParseInt("-j", o.given.at("-j"), 1, 4096);
  s.choice = o.mode;
  if (!o.mode_given) s.choice.mode = QUORLAX_MODE_ALL;
  s.failed = o.failed;
  s.quiet = o.quiet;
  s.resume = o.Has("--resume");
  s.list = o.Has("--list");
  if (o.Has("--out") && o.Has("-o")) throw Error("name the results file once (--out or -o)");
  s.out = o.Has("--out") ? o.given.at("--out") : o.output;
  if (s.out == "-") s.out.clear();
  if (o.Has("--out") && s.out.empty() && o.given.at("--out").empty()) throw Error("--out needs a file name");
  if (s.resume && s.out.empty()) throw Error("--resume continues a results file: name it with --out FILE");
  return s;
}

// The paths as the user gave them, quoted, for a message.
std::string Joined(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) out += (out.empty() ? "'" : ", '") + p + "'";
  return out;
}

int CoreCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Extensions of the formats this libsndfile reads, with the usual spellings
// of those it names otherwise. Raw has no header to read, and .mat names data
// of every kind.
std::set<std::string> SoundExtensions() {
  const std::multimap<int, std::string> spellings = {
      {SF_FORMAT_AIFF, "aif"}, {SF_FORMAT_AIFF, "aifc"}, {SF_FORMAT_OGG, "ogg"}, {SF_FORMAT_OGG, "opus"},
      {SF_FORMAT_AU, "snd"},   {SF_FORMAT_WAV, "wave"},  {SF_FORMAT_MPEG, "mp1"}, {SF_FORMAT_MPEG, "mp2"},
      {SF_FORMAT_MPEG, "mp3"}, {SF_FORMAT_MPEG, "mpga"}};
  std::set<std::string> ext;
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) continue;
    if (info.extension != nullptr) ext.insert(Lower(info.extension));
    const auto same = spellings.equal_range(info.format);
    for (auto it = same.first; it != same.second; ++it) ext.insert(it->second);
  }
  ext.erase("raw");
  ext.erase("mat");
  return ext;
}

bool IsSoundFileName(const fs::path& p, const std::set<std::string>& extensions) {
  std::string ext = p.extension().string();
  return ext.size() > 1 && extensions.count(Lower(ext.substr(1))) != 0;
}

class Walker {
 public:
  explicit Walker(std::vector<std::string>* files) : files_(files), extensions_(SoundExtensions()) {}

  // Folders are walked in name order; anything else named is decoded as it is.
  void Add(const std::string& arg) {
    std::error_code ec;
    const fs::file_status st = fs::status(arg, ec);
    if (!ec && fs::is_directory(st)) {
      Folder(fs::path(arg));
    } else {
      Keep(fs::path(arg));
    }
  }
  int problems() const { return problems_; }

 private:
  void Folder(const fs::path& dir) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    if (ec) {
      // Not a line in the results: it is no file, and a later --resume should try it again.
      std::fprintf(stderr, "quorlax: cannot list folder '%s': %s\n", dir.c_str(), ec.message().c_str());
      ++problems_;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    for (const fs::directory_entry& e : entries) {
      const std::string name = e.path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      std::error_code stat_ec;
      // Linked folders are not followed (no loops); linked files are.
      if (e.is_symlink(stat_ec) ? false : e.is_directory(stat_ec)) {
        Folder(e.path());
      } else if (e.is_regular_file(stat_ec) && IsSoundFileName(e.path(), extensions_)) {
        Keep(e.path());
      }
    }
  }

  void Keep(const fs::path& p) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(p, ec);
    if (ec) key = p;
    if (seen_.insert(key.string()).second) files_->push_back(p.string());
  }

  std::vector<std::string>* files_;
  std::set<std::string> extensions_;
  std::set<std::string> seen_;
  int problems_ = 0;
};

void WriteAll(int fd, const std::string& data, const std::string& what) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error("cannot write " + what + ": " + std::strerror(n < 0 ? errno : EIO));
    done += static_cast<size_t>(n);
  }
}

// What a results file already holds.
struct Previous {
  std::set<std::string> finished;
  int passed = 0;
};

// Reads the results of an earlier run and cuts off what follows its last
// finished file: lines of a file that was in flight, or half a line.
Previous ReadPrevious(int fd, const std::string& path) {
  Previous prev;
  std::string line, chunk(1 << 16, '\0');
  off_t offset = 0, keep = 0;
  int passed_since_keep = 0;
  RecordInfo info;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error("cannot read '" + path + "': " + std::strerror(errno));
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] != '\n') {
        line += chunk[i];
        continue;
      }
      if (!ParseRecord(line, &info))
        throw Error("'" + path + "' holds a line that is not a scan result at byte " + std::to_string(offset + i) +
                    "; is it the right file?");
      if (info.passed) ++passed_since_keep;
      if (info.finished) {
        prev.finished.insert(info.file);
        prev.passed += passed_since_keep;
        passed_since_keep = 0;
        keep = offset + i + 1;
      }
      line.clear();
    }
    offset += n;
  }
  if (keep < offset) {
    std::fprintf(stderr, "quorlax: %s: dropping %lld bytes of files that were not finished\n", path.c_str(),
                 static_cast<long long>(offset - keep));
    if (::ftruncate(fd, keep) != 0) throw Error("cannot truncate '" + path + "': " + std::strerror(errno));
  }
  return prev;
}

// The results: standard output, or a file only this scan may write to.
class Results {
 public:
  explicit Results(const ScanOptions& o) : name_(o.out.empty() ? "standard output" : "'" + o.out + "'") {
    if (o.out.empty()) {
      fd_ = STDOUT_FILENO;
      return;
    }
    fd_ = ::open(o.out.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) throw Error("cannot open " + name_ + ": " + std::strerror(errno));
    owned_ = true;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
      throw Error(name_ + " is being written by another scan" +
                  (errno == EWOULDBLOCK ? std::string() : std::string(": ") + std::strerror(errno)));
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw Error("cannot examine " + name_ + ": " + std::strerror(errno));
    if (!o.resume && st.st_size > 0)
      throw Error(name_ + " already holds results: add --resume to continue that scan, or remove it");
    if (o.resume) previous_ = ReadPrevious(fd_, o.out);
  }
  ~Results() {
    if (owned_) ::close(fd_);
  }
  Results(const Results&) = delete;
  Results& operator=(const Results&) = delete;

  // One write: a reader, or a kill, sees the file's lines whole or torn at the end.
  void Append(const std::string& block) { WriteAll(fd_, block, name_); }
  int fd() const { return fd_; }
  bool owned() const { return owned_; }
  const Previous& previous() const { return previous_; }

 private:
  std::string name_;
  int fd_ = -1;
  bool owned_ = false;
  Previous previous_;
};

// Files, hours and speed on stderr, rewritten in place.
class ProgressLine {
 public:
  ProgressLine(bool on, size_t total) : on_(on), total_(total), start_(Clock::now()) {}
  void Show(size_t done, double seconds, bool force = false) {
    if (!on_) return;
    const auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double wall = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\rquorlax: %zu of %zu files, %.2f h of audio, %.0fx real time\033[K", done, total_,
                 seconds / 3600.0, wall > 0.0 ? seconds / wall : 0.0);
    std::fflush(stderr);
  }
  void Clear() {
    if (!on_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }
  double Wall() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  using Clock = std::chrono::steady_clock;
  bool on_;
  size_t total_;
  Clock::time_point start_, last_{};
};

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  std::string file;
  std::string lines;    // records, as they came
  std::string partial;  // an unfinished line
  double heard = 0.0;   // seconds decoded so far (progress)
};

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
std::string ScanFile(const std::string& file, const ScanOptions& o, int progress_fd) {
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
               DecodingRateFor(o.choice, summary.rate));
  std::vector<ChannelSink> sinks;
  for (int c = 0; c < summary.channels; ++c) {
    auto sink = [&, c](const Message& m) {
      Message on = m;
      on.channel = c + 1;
      lines += MessageRecord(file, on);
      ++messages;
    };
    sinks.push_back(ChannelSink{c, sink, o.failed});
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
  DecodeChannels(*input, o.choice, sinks, report);
  if (frames == 0) throw Error("'" + file + "' holds no audio");
  // What was heard before the damage stands; the file itself is an error.
  const std::string damage = read.Damage();
  if (!damage.empty()) return lines + ErrorRecord(file, "'" + file + "' " + damage);
  summary.seconds = static_cast<double>(frames) / summary.rate;
  return lines + FileRecord(file, summary, messages);
}

// In the child: decode one file, send its lines, never return.
[[noreturn]] void RunWorker(const std::string& file, const ScanOptions& o, int fd, bool progress) {
  std::string lines;
  try {
    lines = ScanFile(file, o, progress ? fd : -1);
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

class Pool {
 public:
  Pool(const ScanOptions& o, Results* results, ProgressLine* progress)
      : o_(o), results_(results), progress_(progress), show_(progress != nullptr) {}
  ~Pool() {
    // Only after an error: the workers still running are ours to stop.
    for (Worker& w : workers_) {
      ::kill(w.pid, SIGKILL);
      ::waitpid(w.pid, nullptr, 0);
      ::close(w.fd);
    }
  }

  void Run(const std::vector<std::string>& files, int jobs) {
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

  size_t done() const { return done_; }
  size_t errors() const { return errors_; }
  int passed() const { return passed_; }
  double seconds() const { return seconds_; }

 private:
  void Start(const std::string& file) {
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
      RunWorker(file, o_, p[1], show_);
    }
    ::close(p[1]);
    Worker w;
    w.pid = pid;
    w.fd = p[0];
    w.file = file;
    workers_.push_back(std::move(w));
  }

  // False at the end of the worker's output.
  bool Read(Worker* w) {
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

  void Finish(Worker& w) {
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
      if (info.finished && !info.error) {
        const size_t at = line.find(",\"duration\":");
        seconds = std::atof(line.c_str() + at + 12);
      }
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

  void Show(bool force) {
    if (progress_ == nullptr) return;
    double in_flight = 0.0;
    for (const Worker& w : workers_) in_flight += w.heard;
    progress_->Show(done_, seconds_ + in_flight, force);
  }

  const ScanOptions& o_;
  Results* results_;
  ProgressLine* progress_;
  bool show_;
  std::vector<Worker> workers_;
  size_t done_ = 0, errors_ = 0;
  int passed_ = 0;
  double seconds_ = 0.0;
};

int RunScan(const Options& options) {
  const ScanOptions o = FromOptions(options);
  // A custom grid that cannot work fails here, once, rather than in every file.
  if (const int code = Supported(o.choice, kDefaultRate)) throw Error(ConfigureErrorText(code, o.choice, kDefaultRate));

  std::vector<std::string> files;
  Walker walker(&files);
  for (const std::string& p : o.paths) walker.Add(p);
  if (o.list) {
    std::string out;
    for (const std::string& f : files) out += "{\"file\":" + JsonString(f) + "}\n";
    WriteAll(STDOUT_FILENO, out, "standard output");
    return walker.problems() > 0 ? kExitUsage : 0;
  }

  if (files.empty() && walker.problems() == 0)
    std::fprintf(stderr, "quorlax: no sound files to decode under %s (see quorlax scan -h for what counts)\n",
                 Joined(o.paths).c_str());

  Results results(o);
  std::vector<std::string> todo;
  for (const std::string& f : files)
    if (!results.previous().finished.count(f)) todo.push_back(f);
  if (o.resume && todo.size() < files.size())
    std::fprintf(stderr, "quorlax: resuming: %zu of %zu files were finished before\n", files.size() - todo.size(),
                 files.size());

  const int jobs = std::min<int>(o.jobs > 0 ? o.jobs : CoreCount(), std::max<size_t>(todo.size(), 1));
  const bool show = !o.quiet && isatty(STDERR_FILENO);
  ProgressLine progress(show, todo.size());
  Pool pool(o, &results, show ? &progress : nullptr);
  pool.Run(todo, jobs);
  progress.Clear();
  if (show)
    std::fprintf(stderr, "quorlax: scanned %zu files, %.2f h of audio in %.1f s (%.0fx real time)\n", pool.done(),
                 pool.seconds() / 3600.0, progress.Wall(), pool.seconds() / std::max(progress.Wall(), 1e-9));
  if (pool.errors() > 0)
    std::fprintf(stderr, "quorlax: %zu of %zu files could not be read; their lines say why\n", pool.errors(),
                 pool.done());
  if (walker.problems() > 0) return kExitUsage;
  return results.previous().passed + pool.passed() > 0 ? kExitFound : kExitNothing;
}

}  // namespace

const Command kScanCommand = {
    "scan",
    "decode every sound file under folders, on every core, as JSON lines",
    kScanHelp,
    {"-m", "--base", "--separation", "-o", "--failed", "-q"},
    RunScan,
    {{"-j", "--jobs", true}, {"--out", nullptr, true}, {"--resume", nullptr, false}, {"--list", nullptr, false}},
};

}  // namespace cli
