// Which files a scan decodes: the files named, and under the folders named
// (walked in name order, linked folders not followed) the files whose
// extension names a format libsndfile reads. Each file once.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace cli {

class Walker {
 public:
  explicit Walker(std::vector<std::string>* files);

  // Folders are walked in name order; anything else named is decoded as it is.
  void Add(const std::string& arg);
  // Folders that could not be listed (each said on stderr).
  int problems() const { return problems_; }

 private:
  void Folder(const std::filesystem::path& dir);
  void Keep(const std::filesystem::path& p);

  std::vector<std::string>* files_;
  std::set<std::string> extensions_;
  std::set<std::string> seen_;
  int problems_ = 0;
};

}  // namespace cli
