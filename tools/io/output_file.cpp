#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace cli {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw Error("cannot write " + Quoted(path) + ": " + std::strerror(errno));
    return;
  }
  // Replace what a symbolic link points at, not the link.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    target_ = real;
    std::free(real);
  }
  const size_t slash = target_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  std::string pattern = dir + "." + base + ".XXXXXX";
  fd_ = ::mkostemp(&pattern[0], O_CLOEXEC);
  if (fd_ < 0) throw Error("cannot write " + Quoted(path) + ": " + std::strerror(errno));
  temp_ = pattern;
  // mkstemp makes the file private; give it the mode a new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void OutputFile::Commit() {
  if (error_ == 0 && !temp_.empty() && ::fsync(fd_) != 0) RecordError(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) RecordError(errno);
  if (error_ != 0) throw Error("cannot write " + Quoted(path_) + ": " + std::strerror(error_));
  if (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)
    throw Error("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
  committed_ = true;
}

}  // namespace cli
