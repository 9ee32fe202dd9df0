#include "io/stop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "cli.h"

namespace cli {
namespace {

std::FILE* g_diag = stderr;
int g_stop_pipe[2] = {-1, -1};

// Only raises a flag and wakes whatever polls the stop pipe.
extern "C" void OnStopSignal(int) { Stop(); }

}  // namespace

std::atomic<bool> g_stop{false};

void SetDiagnostics(std::FILE* to) { g_diag = to; }

void Say(const std::string& line) {
  std::fprintf(g_diag, "quorlax: %s\n", line.c_str());
  std::fflush(g_diag);
}

void Fatal(const std::string& line) {
  std::fflush(stdout);
  Say(line);
  ::_exit(kExitUsage);
}

void Stop() {
  g_stop.store(true);
  if (g_stop_pipe[1] >= 0) {
    const char c = 's';
    [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe[1], &c, 1);
  }
}

void CatchStopSignals() {
  if (g_stop_pipe[0] < 0 && ::pipe(g_stop_pipe) == 0) {
    for (int fd : g_stop_pipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(g_stop_pipe[1], F_SETFL, O_NONBLOCK);
  }
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read returns EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool WaitForInput(int fd, const std::string& what) {
  for (;;) {
    if (g_stop.load()) return false;
    pollfd fds[2] = {{fd, POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
    const int r = ::poll(fds, g_stop_pipe[0] >= 0 ? 2 : 1, 500);
    if (r < 0 && errno != EINTR) throw Error("cannot read " + what + ": " + std::strerror(errno));
    if (g_stop.load()) return false;
    if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return true;
  }
}

Watchdog::Watchdog(double seconds, std::string what) : what_(std::move(what)) {
  thread_ = std::thread([this, seconds] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
      std::fprintf(g_diag, "quorlax: %s did not answer within %.0f s\n", what_.c_str(), seconds);
      std::fflush(g_diag);
      std::fflush(stdout);
      ::_exit(kExitUsage);
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

}  // namespace cli
