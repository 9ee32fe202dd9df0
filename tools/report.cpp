#include "report.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace cli {
namespace {

std::string Fixed(double v, int digits) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

}  // namespace

void PrintLine(const std::string& line) {
  if (std::fputs(line.c_str(), stdout) < 0 || std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0)
    throw Error(std::string("cannot write standard output: ") + std::strerror(errno));
}

void CheckStdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    throw Error(std::string("cannot write standard output: ") + std::strerror(errno != 0 ? errno : EIO));
}

std::string JsonNumber(double v, int digits) { return std::isfinite(v) ? Fixed(v, digits) : "null"; }

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string FormatMessage(const Message& m, bool json) {
  if (json) {
    return "{\"text\":" + JsonString(m.text) + ",\"ok\":" + (m.ok ? "true" : "false") +
           ",\"band\":" + JsonString(BandName(m.band)) + ",\"confidence\":" + JsonNumber(m.confidence, 2) +
           ",\"level_db\":" + JsonNumber(m.level_db, 1) + ",\"time\":" + JsonNumber(m.time_s, 2) +
           (m.channel > 0 ? ",\"channel\":" + std::to_string(m.channel) : "") + "}";
  }
  return m.text + "\t" + (m.ok ? "ok" : "check-failed") + "\tband=" + BandName(m.band) +
         "\tconfidence=" + Fixed(m.confidence, 2) + "\tlevel=" + Fixed(m.level_db, 1) + " dB\tat=" +
         Fixed(m.time_s, 2) + " s" + (m.channel > 0 ? "\tchannel=" + std::to_string(m.channel) : "");
}

void StatusLine::Show(const std::string& text) {
  if (!on_ || (shown_ && text == last_)) return;
  last_ = text;
  std::fprintf(stderr, "\rquorlax: %s\033[K", text.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void StatusLine::Clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
  last_.clear();
}

}  // namespace cli
