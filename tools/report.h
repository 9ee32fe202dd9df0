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

}  // namespace cli
