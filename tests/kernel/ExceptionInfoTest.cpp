#include "kernel/ExceptionInfo.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vandrel {
namespace {

struct Silent : std::exception {
  const char* what() const noexcept override { return ""; }
};

template <typename Throw>
TExceptionInfo Describe(Throw thrower) {
  try {
    thrower();
  } catch (...) {
    return DescribeCurrentException("/opt/VandrelShopper");
  }
  return {};
}

TEST(ExceptionInfo, MessageOrClassAndModule) {
  auto own = Describe([] { throw std::runtime_error("disk full"); });
  EXPECT_EQ(own.Message, "disk full");
  EXPECT_EQ(own.ClassName, "std::runtime_error");

  auto silent = Describe([] { throw Silent(); });
  EXPECT_EQ(silent.Message,
            "Exception vandrel::(anonymous namespace)::Silent in module /opt/VandrelShopper at 00000000.");

  auto number = Describe([] { throw 42; });
  EXPECT_EQ(number.ClassName, "int");
  EXPECT_EQ(number.Message, "Exception int in module /opt/VandrelShopper at 00000000.");
}

}  // namespace
}  // namespace vandrel
