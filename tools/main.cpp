// quorlax: send and receive nine-character messages as sound.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "commands.h"
#include "report.h"

int main(int argc, char** argv) {
  // Past a file size limit, writes then fail with EFBIG and the half-written
  // output is removed, instead of the process dying on the signal.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<const cli::Command*> commands = {
      &cli::kEncodeCommand, &cli::kDecodeCommand, &cli::kPlayCommand, &cli::kListenCommand,
      &cli::kDevicesCommand, &cli::kScanCommand, &cli::kInspectCommand, &cli::kDemoCommand,
  };
  char devices[] = "devices";
  if (argc > 1 && std::strcmp(argv[1], "--list-devices") == 0) argv[1] = devices;
  try {
    const int status = cli::Main(argc, argv, commands);
    // Results that did not arrive are no success (a status of 2 was explained already).
    if (status != cli::kExitUsage) cli::CheckStdout();
    return status;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quorlax: %s\n", e.what());
    return cli::kExitUsage;
  }
}
