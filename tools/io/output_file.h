// Output files that appear whole or not at all.
#pragma once

#include <string>

namespace cli {

// Writes go to a temporary file beside `path`; Commit() renames it over
// `path`, and destruction without Commit() removes it. Paths that are not
// regular files (a FIFO, /dev/stdout) are written in place. Throws Error.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  int fd() const { return fd_; }
  // errno of the first failed write, seek or sync (0 when none failed).
  int error() const { return error_; }
  void RecordError(int err) {
    if (error_ == 0) error_ = err;
  }
  // Flushes to the disk and puts the file in place; throws Error naming the cause.
  void Commit();
  const std::string& path() const { return path_; }

 private:
  std::string path_;     // as the user named it, for messages
  std::string target_;   // what gets replaced (symbolic links resolved)
  std::string temp_;     // empty when writing in place
  int fd_ = -1;
  int error_ = 0;
  bool committed_ = false;
};

}  // namespace cli
