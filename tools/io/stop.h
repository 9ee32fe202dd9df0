// How the program stops: Ctrl-C and SIGTERM end listening and playing
// cleanly, a watchdog ends a program whose sound system stopped answering,
// and a device that fails while streaming ends it at once. Their last words
// go where Say writes: stderr, also once the sound libraries' chatter has
// been sent elsewhere.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace cli {

// Where the program's own messages go from now on (the real stderr).
void SetDiagnostics(std::FILE* to);
void Say(const std::string& line);
// Ends the process with `line` and exit status 2, without tearing anything
// down: that could wait on a sound system that is gone.
[[noreturn]] void Fatal(const std::string& line);

// True once a stop signal came (or Stop was called).
extern std::atomic<bool> g_stop;
// From now on SIGINT and SIGTERM raise g_stop and wake WaitForInput.
void CatchStopSignals();
// Raises g_stop and wakes whatever waits in WaitForInput.
void Stop();
// Waits until `fd` has input (true) or a stop signal comes (false). Throws
// Error naming `what` when waiting fails.
bool WaitForInput(int fd, const std::string& what);

// Past its deadline, unless destroyed first, this ends the process with one
// line ("WHAT did not answer within N s") and exit status 2.
class Watchdog {
 public:
  Watchdog(double seconds, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace cli
