// The scan's pool: one forked worker process per file, at most `jobs` at a
// time. A file that crashes its decoder costs that file only, and each worker
// starts from the parent's small image, so memory does not build up over an
// archive (docs/PERFORMANCE.md has the costs). Workers hand their lines to
// the parent through a pipe; the parent alone writes the results, each
// file's lines in one append, its own line last.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {

class Results;
class StatusLine;

class Pool {
 public:
  // Every channel of each file is decoded for `choice` (failed readings too
  // when `failed`); `progress` (may be null) shows files, hours and speed.
  Pool(const ModeChoice& choice, bool failed, Results* results, StatusLine* progress);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Decodes `files`; throws Error when a worker cannot be started.
  void Run(const std::vector<std::string>& files, int jobs);

  size_t done() const { return done_; }
  size_t errors() const { return errors_; }  // files whose line is an error
  int passed() const { return passed_; }     // messages that passed their check
  double seconds() const { return seconds_; }  // of audio decoded
  double Wall() const;                         // seconds since Run began

 private:
  struct Worker {
    pid_t pid = -1;
    int fd = -1;
    std::string file;
    std::string lines;    // records, as they came
    std::string partial;  // an unfinished line
    double heard = 0.0;   // seconds decoded so far (progress)
  };
  using Clock = std::chrono::steady_clock;

  void Start(const std::string& file);
  // False at the end of the worker's output.
  bool Read(Worker* w);
  void Finish(Worker& w);
  void Show(bool force);

  ModeChoice choice_;
  bool failed_;
  Results* results_;
  StatusLine* progress_;
  std::vector<Worker> workers_;
  size_t total_ = 0, done_ = 0, errors_ = 0;
  int passed_ = 0;
  double seconds_ = 0.0;
  Clock::time_point start_, last_shown_{};
};

}  // namespace cli
