// A temporary folder of this test process alone: ctest runs tests as parallel processes, and helpers or
// CI may run several builds at once, so fixed names under /tmp would collide.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace vandrel::test {

inline const std::string& ProcessTempDir() {
  static const std::string dir = [] {
    std::string pattern = ::testing::TempDir() + "/vandrel-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return ::testing::TempDir();
    return pattern;
  }();
  return dir;
}

}  // namespace vandrel::test
