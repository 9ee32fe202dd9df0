#include "scan/records.h"

#include <cstdlib>
#include <cstring>

#include "report.h"

namespace cli {
namespace {

std::string FileKey(const std::string& file) { return "{\"file\":" + JsonString(file); }

void AppendUtf8(unsigned code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads the JSON string starting at line[*pos] (its opening quote) as
// JsonString writes them; leaves *pos after the closing quote.
bool ReadString(const std::string& line, size_t* pos, std::string* out) {
  size_t i = *pos;
  if (i >= line.size() || line[i] != '"') return false;
  out->clear();
  for (++i; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (++i >= line.size()) return false;
    const char e = line[i];
    if (e == '"' || e == '\\' || e == '/') {
      *out += e;
    } else if (e == 'u' && i + 4 < line.size()) {
      char* end = nullptr;
      const std::string hex = line.substr(i + 1, 4);
      const unsigned long code = std::strtoul(hex.c_str(), &end, 16);
      if (end != hex.c_str() + 4) return false;
      AppendUtf8(static_cast<unsigned>(code), out);
      i += 4;
    } else {
      static const char kFrom[] = "bfnrt", kTo[] = "\b\f\n\r\t";
      const char* at = std::strchr(kFrom, e);
      if (at == nullptr || e == '\0') return false;
      *out += kTo[at - kFrom];
    }
  }
  return false;
}

bool StartsWithAt(const std::string& s, size_t pos, const char* prefix) {
  return s.compare(pos, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string MessageRecord(const std::string& file, const Message& m) {
  return FileKey(file) + ",\"channel\":" + std::to_string(m.channel) + ",\"start\":" + JsonNumber(m.time_s, 6) +
         ",\"end\":" + JsonNumber(m.end_s, 6) + ",\"text\":" + JsonString(m.text) +
         ",\"ok\":" + (m.ok ? "true" : "false") + ",\"band\":" + JsonString(BandName(m.band)) +
         ",\"level_db\":" + JsonNumber(m.level_db, 1) + ",\"confidence\":" + JsonNumber(m.confidence, 2) + "}\n";
}

std::string FileRecord(const std::string& file, const FileSummary& s, int messages) {
  return FileKey(file) + ",\"duration\":" + JsonNumber(s.seconds, 6) + ",\"rate\":" + std::to_string(s.rate) +
         ",\"channels\":" + std::to_string(s.channels) + ",\"messages\":" + std::to_string(messages) + "}\n";
}

std::string ErrorRecord(const std::string& file, const std::string& error) {
  return FileKey(file) + ",\"error\":" + JsonString(error) + "}\n";
}

bool ParseRecord(const std::string& line, RecordInfo* out) {
  static const char kHead[] = "{\"file\":";
  if (!StartsWithAt(line, 0, kHead) || line.empty() || line.back() != '}') return false;
  size_t pos = sizeof kHead - 1;
  if (!ReadString(line, &pos, &out->file)) return false;
  static const char kDuration[] = ",\"duration\":";
  out->error = StartsWithAt(line, pos, ",\"error\":");
  const bool duration = StartsWithAt(line, pos, kDuration);
  out->duration = duration ? std::atof(line.c_str() + pos + sizeof kDuration - 1) : 0.0;
  out->finished = out->error || duration;
  out->passed = !out->finished && line.find(",\"ok\":true,") != std::string::npos;
  return out->finished || StartsWithAt(line, pos, ",\"channel\":");
}

}  // namespace cli
