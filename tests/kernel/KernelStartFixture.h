// A program's private world for starting kernels in this process: a temporary folder with its own runtime
// folder (the single-instance socket), an installation holding the home page, and the messages the kernel
// shows kept instead of shown.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "actions/AppErrors.h"

namespace vandrel::test {

class KernelStartFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/vandrel-kernel-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "runtime");
    fs::permissions(dir_ / "runtime", fs::perms::owner_all);
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    savedRuntime_ = runtime ? std::optional<std::string>(runtime) : std::nullopt;
    setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);
    fs::create_directories(dir_ / "install/Web");
    std::ofstream(dir_ / "install/Web/Welcome.htm") << "<html></html>";
    previous_ = SetErrorPresenter(
        {[this](TMessageStyle, const std::string& t) { shown_.push_back(t); }, [this] { ++terminated_; }});
  }
  void TearDown() override {
    SetErrorPresenter(std::move(previous_));
    if (savedRuntime_) {
      setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir_;
  std::optional<std::string> savedRuntime_;
  TErrorPresenter previous_;
  std::vector<std::string> shown_;
  int terminated_ = 0;
};

}  // namespace vandrel::test
