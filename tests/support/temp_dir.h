// A fresh directory under the build tree for one test's database files, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace ovt::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path()/name as a string.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace ovt::test
