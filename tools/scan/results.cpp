#include "scan/results.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "scan/records.h"

namespace cli {
namespace {

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

}  // namespace

void WriteAll(int fd, const std::string& data, const std::string& what) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error("cannot write " + what + ": " + std::strerror(n < 0 ? errno : EIO));
    done += static_cast<size_t>(n);
  }
}

Results::Results(const std::string& path, bool resume) : name_(path.empty() ? "standard output" : "'" + path + "'") {
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return;
  }
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw Error("cannot open " + name_ + ": " + std::strerror(errno));
  owned_ = true;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
    throw Error(name_ + " is being written by another scan" +
                (errno == EWOULDBLOCK ? std::string() : std::string(": ") + std::strerror(errno)));
  struct stat st;
  if (::fstat(fd_, &st) != 0) throw Error("cannot examine " + name_ + ": " + std::strerror(errno));
  if (!resume && st.st_size > 0)
    throw Error(name_ + " already holds results: add --resume to continue that scan, or remove it");
  if (resume) previous_ = ReadPrevious(fd_, path);
}

Results::~Results() {
  if (owned_) ::close(fd_);
}

}  // namespace cli
