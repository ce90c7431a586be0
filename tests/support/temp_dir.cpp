#include "support/temp_dir.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace ovt::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::path(OVT_BINARY_DIR) / "test-tmp" /
          ("t" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string TempDir::file(const std::string& name) const { return (path_ / name).string(); }

}  // namespace ovt::test
