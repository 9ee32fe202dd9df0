// How decoded messages are shown: one tab-separated or JSON line each.
#pragma once

#include <string>

#include "decode_stream.h"

namespace cli {

std::string FormatMessage(const Message& m, bool json);

// A JSON number with `digits` decimals; JSON has no infinities, so a value
// that is not finite (a level never measured) becomes null.
std::string JsonNumber(double v, int digits);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& s);

// Writes `line` and a newline to stdout at once, so a reader sees it as it is
// found. Throws Error naming the cause when it cannot be written (a full disk,
// a closed pipe): results that go nowhere are no success.
void PrintLine(const std::string& line);

// Throws Error when something written to stdout earlier did not arrive.
void CheckStdout();

// A line on stderr rewritten in place (progress), shown only when `on` (a
// terminal, and not -q). Clear it before printing anything else.
class StatusLine {
 public:
  explicit StatusLine(bool on) : on_(on) {}
  ~StatusLine() { Clear(); }
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;
  bool On() const { return on_; }
  // "quorlax: TEXT" in place of the line shown; nothing when it is the same.
  void Show(const std::string& text);
  void Clear();

 private:
  bool on_;
  bool shown_ = false;
  std::string last_;
};

}  // namespace cli
