// Small text helpers every part of the program words its messages with.
#pragma once

#include <cctype>
#include <cstdio>
#include <string>

namespace cli {

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A time in seconds as messages show it: "1.20 s".
inline std::string SecondsText(double t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", t);
  return buf;
}

}  // namespace cli
