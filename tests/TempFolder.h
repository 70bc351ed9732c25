// Temporary folders for tests: one per test, removed with everything in it when the test ends, and one
// per test process for files that outlive a single test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vandrel::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vandrel-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A folder of this test process alone: ctest runs tests as parallel processes, and helpers or CI may run
// several builds at once, so fixed names under /tmp would collide. It is left for the system to clear.
inline const std::string& ProcessTempDir() {
  static const std::string dir = [] {
    std::string pattern = ::testing::TempDir() + "/vandrel-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return ::testing::TempDir();
    return pattern;
  }();
  return dir;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

}  // namespace vandrel::test
