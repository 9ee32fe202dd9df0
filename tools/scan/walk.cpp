#include "scan/walk.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "text.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// Extensions of the formats this libsndfile reads, with the usual spellings
// of those it names otherwise. Raw has no header to read, and .mat names data
// of every kind.
std::set<std::string> SoundExtensions() {
  const std::multimap<int, std::string> spellings = {
      {SF_FORMAT_AIFF, "aif"}, {SF_FORMAT_AIFF, "aifc"}, {SF_FORMAT_OGG, "ogg"}, {SF_FORMAT_OGG, "opus"},
      {SF_FORMAT_AU, "snd"},   {SF_FORMAT_WAV, "wave"},  {SF_FORMAT_MPEG, "mp1"}, {SF_FORMAT_MPEG, "mp2"},
      {SF_FORMAT_MPEG, "mp3"}, {SF_FORMAT_MPEG, "mpga"}};
  std::set<std::string> ext;
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int i = 0; i < count; ++i) {
    SF_FORMAT_INFO info{};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) continue;
    if (info.extension != nullptr) ext.insert(Lower(info.extension));
    const auto same = spellings.equal_range(info.format);
    for (auto it = same.first; it != same.second; ++it) ext.insert(it->second);
  }
  ext.erase("raw");
  ext.erase("mat");
  return ext;
}

bool IsSoundFileName(const fs::path& p, const std::set<std::string>& extensions) {
  std::string ext = p.extension().string();
  return ext.size() > 1 && extensions.count(Lower(ext.substr(1))) != 0;
}

}  // namespace

Walker::Walker(std::vector<std::string>* files) : files_(files), extensions_(SoundExtensions()) {}

void Walker::Add(const std::string& arg) {
  std::error_code ec;
  const fs::file_status st = fs::status(arg, ec);
  if (!ec && fs::is_directory(st)) {
    Folder(fs::path(arg));
  } else {
    Keep(fs::path(arg));
  }
}

void Walker::Folder(const fs::path& dir) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  if (ec) {
    // Not a line in the results: it is no file, and a later --resume should try it again.
    std::fprintf(stderr, "quorlax: cannot list folder '%s': %s\n", dir.c_str(), ec.message().c_str());
    ++problems_;
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
  for (const fs::directory_entry& e : entries) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code stat_ec;
    // Linked folders are not followed (no loops); linked files are.
    if (e.is_symlink(stat_ec) ? false : e.is_directory(stat_ec)) {
      Folder(e.path());
    } else if (e.is_regular_file(stat_ec) && IsSoundFileName(e.path(), extensions_)) {
      Keep(e.path());
    }
  }
}

void Walker::Keep(const fs::path& p) {
  std::error_code ec;
  fs::path key = fs::weakly_canonical(p, ec);
  if (ec) key = p;
  if (seen_.insert(key.string()).second) files_->push_back(p.string());
}

}  // namespace cli
