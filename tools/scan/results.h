// Where a scan's lines go: standard output, or a results file that only this
// scan may write to, continued with --resume.
#pragma once

#include <set>
#include <string>

namespace cli {

// Writes all of `data` to `fd`; throws Error naming `what` when it cannot.
void WriteAll(int fd, const std::string& data, const std::string& what);

// What a results file already holds.
struct Previous {
  std::set<std::string> finished;
  int passed = 0;
};

class Results {
 public:
  // `path` empty: standard output. A file is locked for this scan; one that
  // holds results is refused unless `resume`, which keeps its finished files
  // and cuts off what follows them. Throws Error.
  Results(const std::string& path, bool resume);
  ~Results();
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

}  // namespace cli
