// The four commands, each returning the process exit status.
#pragma once

#include <string>
#include <vector>

#include "cli.h"

namespace cli {

struct Options {
  std::vector<std::string> args;  // positional arguments after the command
  ModeChoice mode;
  bool mode_given = false;
  int rate = 0;  // 0: the command's default
  std::string output;
  std::string melody;
  bool melody_given = false;
  bool synth = false;
  float volume_db = 0.0f;
  bool volume_given = false;
  bool float_wav = false;
  bool raw = false;
  bool json = false;
  bool quiet = false;
  bool all = false;
  int channel = 1;
};

int RunEncode(const Options& o);
int RunDecode(const Options& o);
int RunListen(const Options& o);
int RunDemo(const Options& o);

}  // namespace cli
