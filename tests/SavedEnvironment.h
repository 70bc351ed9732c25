// Keeps environment variables as they were when made and puts them back when it goes, so a test that points
// a program's folders elsewhere leaves the next test the machine's own.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vandrel::test {

class TSavedEnvironment {
 public:
  explicit TSavedEnvironment(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  ~TSavedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  TSavedEnvironment(const TSavedEnvironment&) = delete;
  TSavedEnvironment& operator=(const TSavedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace vandrel::test
