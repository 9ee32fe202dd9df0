// The lines a scan writes: one JSON object per message, then one per file
// once it is finished. A file's lines always travel together, its own line
// last, so a results file cut anywhere holds whole files plus a torn tail.
#pragma once

#include <string>

#include "decode_stream.h"

namespace cli {

struct FileSummary {
  int rate = 0;
  int channels = 0;
  double seconds = 0.0;  // audio actually read (a file cut short reads less than its header says)
};

// Each returns one line, newline included. `m.channel` is 1-based.
std::string MessageRecord(const std::string& file, const Message& m);
std::string FileRecord(const std::string& file, const FileSummary& summary, int messages);
std::string ErrorRecord(const std::string& file, const std::string& error);

// What a line of a results file says about its file.
struct RecordInfo {
  std::string file;
  bool finished = false;  // a file's own line (its duration or its error)
  bool error = false;
  bool passed = false;    // a message that passed its check
  double duration = 0.0;  // seconds of audio, on a finished file's line without an error
};

// Reads one line written by the functions above (without its newline);
// false for anything else.
bool ParseRecord(const std::string& line, RecordInfo* out);

}  // namespace cli
