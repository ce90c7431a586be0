// A fresh directory under the build tree for one test's database files, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace ovt::test {

// The contents of a file ("" when there is none).
std::string readFile(const std::string& path);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path()/name as a string.
  std::string file(const std::string& name) const;
  // The contents of path()/name ("" when there is no such file).
  std::string read(const std::string& name) const { return readFile(file(name)); }

 private:
  std::filesystem::path path_;
};

}  // namespace ovt::test
