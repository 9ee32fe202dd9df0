#pragma once
// Library chatter on fd 2 (host audio libraries, libsndfile's MPEG decoder)
// kept off a program's stderr, which says what went wrong in its own words.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace quorlax_device {

// Sends fd 2 to /dev/null for a scope (when `on`). Not for two threads at
// once: the second would restore the first one's /dev/null.
class MutedStderr {
 public:
  explicit MutedStderr(bool on = true) {
    if (!on) return;
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ < 0 || null_fd < 0 || ::dup2(null_fd, STDERR_FILENO) < 0) {
      if (saved_ >= 0) ::close(saved_);
      saved_ = -1;
    }
    if (null_fd >= 0) ::close(null_fd);
  }
  ~MutedStderr() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  MutedStderr(const MutedStderr&) = delete;
  MutedStderr& operator=(const MutedStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace quorlax_device
